#include "FactoryBase.h"

#include "PluginInfo.h"

namespace FB {

namespace {
const int kReservedValue = 4;
} // namespace

FactoryBase::~FactoryBase()
{
}

void FactoryBase::globalPluginInitialize()
{
}

void FactoryBase::globalPluginDeinitialize()
{
}

void FactoryBase::reservedHook()
{
}

int FactoryBase::reservedValue()
{
    return kReservedValue;
}

std::string FactoryBase::getPluginName(const std::string&)
{
    return getPluginNameString();
}

std::string FactoryBase::getPluginName()
{
    return getPluginName(std::string());
}

std::string FactoryBase::getPluginDescription(const std::string& mimetype)
{
    return getPluginDescriptionString(mimetype);
}

std::string FactoryBase::getPluginDescription()
{
    return getPluginDescription(std::string());
}

} // namespace FB
