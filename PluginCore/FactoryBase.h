// FB::FactoryBase: the process-wide object through which the framework
// obtains the application's plugin core, the NPAPI plugin object and the
// X11 plugin window, and reads the plugin's name and description.
//
// The application subclasses it and hands out its only instance through
// ::sharedFactoryInstance, which it defines (made on first use, kept until
// the process exits). The NPAPI and X11 operations are compiled into the
// X11 binding (FactoryBaseX11.cpp), so that the core links without them.
// Called on the browser's main thread; holds no state of its own.
#ifndef FB_FACTORYBASE_H
#define FB_FACTORYBASE_H

#include <string>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include "PluginCore.h"

namespace FB {

namespace Npapi {
class NpapiBrowserHost;
class NpapiPlugin;
} // namespace Npapi

class PluginWindowX11;
struct WindowContextX11;

class FactoryBase : private boost::noncopyable {
public:
    virtual ~FactoryBase();

    // The application's plugin core for the MIME type.
    virtual PluginCorePtr createPlugin(const std::string& mimetype) = 0;
    // Run when the first NPAPI module is made and the last released.
    virtual void globalPluginInitialize();
    virtual void globalPluginDeinitialize();
    // A new NPAPI plugin object (the X11 form).
    virtual boost::shared_ptr<Npapi::NpapiPlugin>
    createNpapiPlugin(const boost::shared_ptr<Npapi::NpapiBrowserHost>& host,
                      const std::string& mimetype);
    // Nothing calls these two.
    virtual void reservedHook();
    virtual int reservedValue();
    // A new window for the browser's X window; the caller owns it.
    virtual PluginWindowX11* createPluginWindowX11(const WindowContextX11& ctx);

    std::string getPluginName(const std::string& mimetype);
    std::string getPluginName();
    std::string getPluginDescription(const std::string& mimetype);
    std::string getPluginDescription();
};

typedef boost::shared_ptr<FactoryBase> FactoryBasePtr;

} // namespace FB

// Defined by the application: its process-wide factory.
FB::FactoryBasePtr sharedFactoryInstance();

#endif
