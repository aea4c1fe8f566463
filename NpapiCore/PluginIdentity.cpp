#include "PluginIdentity.h"

#include <map>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

namespace FB {

namespace {

const char kPluginName[] = "okzoinstallplugin";
const char kMimeDescription[] =
    "application/x-okzoinstallplugin,version=" FB_PLUGIN_VERSION "::OTarnwell Installation Plugin;";

typedef std::map<std::string, std::string> DescriptionMap;

// Filled on the first request and only read after, so any thread may look
// up; never destroyed, so a late caller at exit still finds it.
const DescriptionMap& descriptionMap()
{
    static const DescriptionMap* const map = [] {
        DescriptionMap* built = new DescriptionMap;
        std::vector<std::string> entries;
        boost::algorithm::split(entries, kMimeDescription, boost::algorithm::is_any_of(";"));
        for (const std::string& entry : entries) {
            std::vector<std::string> fields;
            boost::algorithm::split(fields, entry, boost::algorithm::is_any_of(":"));
            if (fields.size() >= 3)
                (*built)[fields[0]] = fields[2];
        }
        return built;
    }();
    return *map;
}

} // namespace

const char* getPluginVersionText() { return FB_PLUGIN_VERSION; }

const char* getPluginMimeDescription() { return kMimeDescription; }

std::string getPluginNameString() { return kPluginName; }

std::string getPluginDescriptionString(const std::string& mimetype)
{
    const DescriptionMap& map = descriptionMap();
    const DescriptionMap::const_iterator found = map.find(mimetype);
    return found == map.end() ? std::string() : found->second;
}

} // namespace FB
