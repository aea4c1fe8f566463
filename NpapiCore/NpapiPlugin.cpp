#include "NpapiPlugin.h"

#include "BrowserStreamRequest.h"
#include "FactoryBase.h"
#include "HttpHeaders.h"
#include "NPJavascriptObject.h"
#include "NpapiStream.h"
#include "SimpleStreamHelper.h"
#include "URI.h"
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

namespace {

NpapiStream* streamOf(NPStream* stream)
{
    return stream ? static_cast<NpapiStream*>(stream->pdata) : nullptr;
}

} // namespace

NPError NpapiPlugin::NewStream(NPMIMEType type, NPStream* stream, NPBool seekable,
                               uint16_t* stype)
{
    if (!stream)
        return NPERR_GENERIC_ERROR;
    // A stream the host asked for carries its stream object as notify data.
    if (stream->notifyData && !stream->pdata)
        stream->pdata = stream->notifyData;
    NpapiStreamPtr object;
    if (NpapiStream* const known = streamOf(stream)) {
        object = boost::static_pointer_cast<NpapiStream>(known->sharedFromThis());
    } else {
        // The browser opened it by itself: the core may take it.
        BrowserStreamRequest request(URI::fromString(stream->url ? stream->url : ""), "GET", false);
        request.lastModified = stream->lastmodified;
        if (stream->headers)
            request.headers = parseHttpHeaders(stream->headers);
        request.seekable = seekable != 0;
        m_core->onUnsolicitedStream(request);
        if (request.accepted) {
            object = boost::static_pointer_cast<NpapiStream>(m_npHost->createUnsolicitedStream(request));
            if (object) {
                if (request.sink)
                    object->AttachObserver(request.sink);
                else if (request.callback)
                    SimpleStreamHelper::asyncRequest(m_npHost, object, request);
                stream->pdata = object.get();
            }
        }
        if (!object)
            return NPERR_NO_ERROR;
    }

    object->setMimeType(type ? type : "");
    object->setStream(stream);
    object->setLength(stream->end);
    object->setUrl(stream->url ? stream->url : "");
    if (stream->headers)
        object->setHeaders(stream->headers);
    object->setSeekableByServer(seekable != 0);

    if (object->isSeekableRequested() && !object->isSeekableByServer()) {
        object->signalFailedOpen();
        // The browser drops the stream now: nothing will destroy it later,
        // so it ends here, once, as failed.
        object->setStream(nullptr);
        stream->pdata = nullptr;
        object->signalCompleted(false);
        object->setDestroyed();
        return NPERR_STREAM_NOT_SEEKABLE;
    }
    if (stype) {
        if (object->isSeekable())
            *stype = NP_SEEK;
        else if (object->isCached())
            *stype = NP_ASFILE;
        else
            *stype = NP_NORMAL;
    }
    if (!object->isCompleted())
        object->signalOpened();
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::DestroyStream(NPStream* stream, NPReason reason)
{
    NpapiStream* const object = streamOf(stream);
    if (!object)
        return NPERR_NO_ERROR;
    // Held for the call: the object may let itself go below.
    const NpapiStreamPtr keep(boost::static_pointer_cast<NpapiStream>(object->sharedFromThis()));
    object->setStream(nullptr);
    stream->pdata = nullptr;
    stream->notifyData = nullptr;
    if (!object->isCompleted())
        object->signalCompleted(reason == NPRES_DONE);
    // Also when the plugin closed the stream itself and the browser destroys
    // it later: otherwise the stream would keep itself forever.
    object->setDestroyed();
    return NPERR_NO_ERROR;
}

int32_t NpapiPlugin::WriteReady(NPStream* stream)
{
    NpapiStream* const object = streamOf(stream);
    if (!object)
        return -1;
    const size_t size = object->getInternalBufferSize();
    return size > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(size);
}

int32_t NpapiPlugin::Write(NPStream* stream, int32_t offset, int32_t len, void* buffer)
{
    NpapiStream* const object = streamOf(stream);
    if (!object)
        return -1;
    if (len <= 0 || offset < 0 || !buffer)
        return 0;
    return object->signalDataArrived(buffer, len, offset);
}

void NpapiPlugin::StreamAsFile(NPStream* stream, const char* fname)
{
    NpapiStream* const object = streamOf(stream);
    if (!object || !fname)
        return;
    std::wstring name;
    for (const char* c = fname; *c; ++c)
        name.push_back(static_cast<wchar_t>(static_cast<signed char>(*c)));
    object->signalCacheFilename(name);
}

void NpapiPlugin::Print(NPPrint*) {}

int16_t NpapiPlugin::HandleEvent(void*) { return 0; }

void NpapiPlugin::URLNotify(const char*, NPReason reason, void* notifyData)
{
    if (!notifyData)
        return;
    // The stream object the host passed as notify data; it lives until this
    // notification and its destruction have both come.
    NpapiStream* const object = static_cast<NpapiStream*>(notifyData);
    const NpapiStreamPtr keep(boost::static_pointer_cast<NpapiStream>(object->sharedFromThis()));
    object->signalCompleted(reason == NPRES_DONE);
    // The URL's end is the browser's last word on the request: when it never
    // opened a stream for it (a server error), no NPP_DestroyStream follows.
    if (!object->wasBound())
        object->setDestroyed();
    object->setNotified();
}

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
