// The plugin's identity as the browser reads it: version, MIME description,
// name and the description of each MIME type.
//
// Fixed at build time. The name and description strings are computed on
// first use and kept for the life of the process, so the pointers handed to
// the browser stay valid. Browser's main thread.
#ifndef FB_NPAPI_PLUGINIDENTITY_H
#define FB_NPAPI_PLUGINIDENTITY_H

#include <string>

// getPluginNameString is the same for every MIME type;
// getPluginDescriptionString reads the MIME description's
// "type:extensions:description" entries and answers the empty text for a
// type it does not name.
#include "PluginInfo.h"

namespace FB {

const char* getPluginVersionText();
const char* getPluginMimeDescription();

} // namespace FB

#endif
