// PluginFactory: the installer's factory; it makes one kzoinstallplugin per
// page instance. The framework reaches the one process-wide factory through
// ::sharedFactoryInstance (made on first use, kept until the process ends).
// Main thread, like every caller of the factory.
#ifndef PLUGINFACTORY_H
#define PLUGINFACTORY_H

#include <string>

#include "FactoryBase.h"

class PluginFactory : public FB::FactoryBase {
public:
    ~PluginFactory() override;

    // The MIME type is not looked at.
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override;
    void globalPluginInitialize() override;
    void globalPluginDeinitialize() override;
};

#endif
