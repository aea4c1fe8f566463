#include "BrowserPlugin.h"

#include <stdexcept>

#include <boost/thread/mutex.hpp>

#include "FactoryBase.h"

namespace FB {

namespace {

// Read and written from the main threads of all instances; a lock keeps a
// process with two binding threads sound.
boost::mutex& pathMutex()
{
    static boost::mutex mutex;
    return mutex;
}

std::string& filesystemPath()
{
    static std::string path;
    return path;
}

} // namespace

BrowserPlugin::BrowserPlugin(const std::string& mimetype)
{
    const FactoryBasePtr factory(sharedFactoryInstance());
    if (!factory)
        throw std::runtime_error("No plugin factory");
    m_core = factory->createPlugin(mimetype);
    if (!m_core)
        throw std::runtime_error("The factory made no plugin core");
}

BrowserPlugin::~BrowserPlugin()
{
}

void BrowserPlugin::setFilesystemPath(const std::string& path)
{
    {
        boost::mutex::scoped_lock lock(pathMutex());
        filesystemPath() = path;
    }
    m_core->setFilesystemPath(path);
}

std::string BrowserPlugin::getFilesystemPath()
{
    boost::mutex::scoped_lock lock(pathMutex());
    return filesystemPath();
}

} // namespace FB
