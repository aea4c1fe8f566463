// FB::Npapi::NpapiPlugin: the per-instance object behind the plugin-side
// NPAPI entry points.
//
// It owns the instance's plugin core (through FB::BrowserPlugin), keeps the
// instance's host, turns the page's <param> names and values into the core's
// parameters, runs the core's ready step, answers the browser's value
// queries, binds the browser's streams to the framework's stream objects
// and hands out the instance's scriptable browser object, holding one
// browser reference to it until it is destroyed. A stream the browser opens
// by itself is offered to the core; one it does not take has no stream
// object, and its callbacks answer as for a stream without one.
// The X11 form (NpapiPluginX11) adds the window.
// Main thread only; nothing is locked here.
#ifndef FB_NPAPI_NPAPIPLUGIN_H
#define FB_NPAPI_NPAPIPLUGIN_H

#include <string>

#include "BrowserPlugin.h"
#include "NpapiBrowserHost.h"
#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

class NPJavascriptObject;

class NpapiPlugin : public FB::BrowserPlugin {
public:
    NpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype);
    ~NpapiPlugin() override;

    // Clears the core's window, then runs the core's shutdown hook.
    void shutdown() override;
    virtual void init(NPMIMEType pluginType, int16_t argc, char* argn[], char* argv[]);
    virtual bool setReady();
    virtual NPError SetWindow(NPWindow* window);
    virtual NPError NewStream(NPMIMEType type, NPStream* stream, NPBool seekable,
                              uint16_t* stype);
    virtual NPError DestroyStream(NPStream* stream, NPReason reason);
    virtual int32_t WriteReady(NPStream* stream);
    virtual int32_t Write(NPStream* stream, int32_t offset, int32_t len, void* buffer);
    virtual void StreamAsFile(NPStream* stream, const char* fname);
    virtual void Print(NPPrint* platformPrint);
    virtual int16_t HandleEvent(void* event);
    virtual void URLNotify(const char* url, NPReason reason, void* notifyData);
    virtual NPError GetValue(NPPVariable variable, void* value);
    virtual NPError SetValue(NPNVariable variable, void* value);

    // The instance's scriptable browser object with one more reference for
    // the caller, or null when none could be made.
    NPObject* getScriptableObject();

    const PluginCorePtr& getCore() const { return m_core; }

protected:
    NPJavascriptObject* m_obj;
    NpapiBrowserHostPtr m_npHost;
    bool m_retainReturnedNPObject;
    bool m_isReady;
    std::string m_mimetype;
    std::string m_pluginName;
    std::string m_pluginDesc;
};

typedef boost::shared_ptr<NpapiPlugin> NpapiPluginPtr;

// Whether the plugin shows a window at all; always true here.
bool isPluginGuiEnabled();

} // namespace Npapi
} // namespace FB

#endif
