// FB::BrowserPlugin: the browser-binding base of the NPAPI plugin object;
// it owns the plugin core that the application's factory makes.
//
// The plugin file's path is kept process-wide and handed to the core.
// Main thread only.
#ifndef FB_BROWSERPLUGIN_H
#define FB_BROWSERPLUGIN_H

#include <string>

#include <boost/noncopyable.hpp>

#include "PluginCore.h"

namespace FB {

class BrowserPlugin : private boost::noncopyable {
public:
    // The core comes from ::sharedFactoryInstance's createPlugin; its
    // exceptions pass to the caller, and a missing factory or core throws
    // std::runtime_error, so a constructed object always has its core.
    explicit BrowserPlugin(const std::string& mimetype);
    // Releases the core.
    virtual ~BrowserPlugin();

    virtual void shutdown() = 0;
    // Stores the path process-wide, then hands it to the core.
    virtual void setFilesystemPath(const std::string& path);

    static std::string getFilesystemPath();

protected:
    PluginCorePtr m_core;
};

} // namespace FB

#endif
