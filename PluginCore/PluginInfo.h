// The plugin's name and description as the browser reads them. Defined by
// the NPAPI module, which keeps the description map.
// Any thread; plain lookups.
#ifndef FB_PLUGININFO_H
#define FB_PLUGININFO_H

#include <string>

namespace FB {

std::string getPluginNameString();
std::string getPluginDescriptionString(const std::string& mimetype);

} // namespace FB

#endif
