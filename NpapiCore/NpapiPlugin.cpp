#include "NpapiPlugin.h"

#include "FactoryBase.h"
#include "NPJavascriptObject.h"
#include "variant.h"

namespace FB {
namespace Npapi {

bool isPluginGuiEnabled() { return true; }

NpapiPlugin::NpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype)
    : FB::BrowserPlugin(mimetype),
      m_obj(nullptr),
      m_npHost(host),
      m_retainReturnedNPObject(true),
      m_isReady(false),
      m_mimetype(mimetype),
      m_pluginName(sharedFactoryInstance()->getPluginName(mimetype)),
      m_pluginDesc(sharedFactoryInstance()->getPluginDescription(mimetype))
{
    m_core->SetHost(host);
}

NpapiPlugin::~NpapiPlugin()
{
    if (m_obj)
        m_npHost->ReleaseObject(m_obj);
}

void NpapiPlugin::shutdown()
{
    m_core->ClearWindow();
    m_core->shutdown();
}

void NpapiPlugin::init(NPMIMEType, int16_t argc, char* argn[], char* argv[])
{
    VariantMap params;
    for (int16_t i = 0; i < argc; ++i) {
        // A value or name the browser left out carries nothing to keep.
        if (!argv || !argv[i] || !argn || !argn[i])
            continue;
        params[argn[i]] = variant(std::string(argv[i]));
    }
    m_core->setParams(params);
    if (!isPluginGuiEnabled() || m_core->isWindowless()) {
        m_npHost->SetValue(NPPVpluginWindowBool, nullptr);
        m_npHost->SetValue(NPPVpluginTransparentBool, reinterpret_cast<void*>(1));
    }
    setReady();
}

bool NpapiPlugin::setReady()
{
    if (m_isReady)
        return false;
    m_isReady = m_core->setReady();
    return m_isReady;
}

NPError NpapiPlugin::SetWindow(NPWindow*) { return NPERR_NO_ERROR; }

NPError NpapiPlugin::NewStream(NPMIMEType, NPStream*, NPBool, uint16_t*)
{
    // No stream object: the plugin takes no stream the browser offers.
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::DestroyStream(NPStream*, NPReason) { return NPERR_NO_ERROR; }

int32_t NpapiPlugin::WriteReady(NPStream*) { return -1; }

int32_t NpapiPlugin::Write(NPStream*, int32_t, int32_t, void*) { return -1; }

void NpapiPlugin::StreamAsFile(NPStream*, const char*) {}

void NpapiPlugin::Print(NPPrint*) {}

int16_t NpapiPlugin::HandleEvent(void*) { return 0; }

void NpapiPlugin::URLNotify(const char*, NPReason, void*) {}

NPError NpapiPlugin::GetValue(NPPVariable variable, void* value)
{
    switch (variable) {
    case NPPVpluginNameString:
        *static_cast<const char**>(value) = m_pluginName.c_str();
        return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
        *static_cast<const char**>(value) = m_pluginDesc.c_str();
        return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject: {
        NPObject* const object = getScriptableObject();
        if (!object)
            return NPERR_GENERIC_ERROR;
        *static_cast<NPObject**>(value) = object;
        return NPERR_NO_ERROR;
    }
    default:
        return NPERR_GENERIC_ERROR;
    }
}

NPError NpapiPlugin::SetValue(NPNVariable, void*) { return NPERR_NO_ERROR; }

NPObject* NpapiPlugin::getScriptableObject()
{
    if (!m_obj)
        m_obj = NPJavascriptObject::newObject(m_npHost, m_core->getRootJSAPI(), false);
    if (m_obj && m_retainReturnedNPObject)
        m_npHost->RetainObject(m_obj);
    return m_obj;
}

} // namespace Npapi
} // namespace FB
