#include "PluginFactory.h"

#include <boost/make_shared.hpp>

#include "kzoinstallplugin.h"

PluginFactory::~PluginFactory() {}

FB::PluginCorePtr PluginFactory::createPlugin(const std::string&)
{
    return boost::make_shared<kzoinstallplugin>();
}

void PluginFactory::globalPluginInitialize() { kzoinstallplugin::globalInitialize(); }

void PluginFactory::globalPluginDeinitialize() { kzoinstallplugin::globalDeinitialize(); }

FB::FactoryBasePtr sharedFactoryInstance()
{
    static const FB::FactoryBasePtr factory(boost::make_shared<PluginFactory>());
    return factory;
}
