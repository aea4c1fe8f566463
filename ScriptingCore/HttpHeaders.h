// FB::parseHttpHeaders: a raw HTTP response header block as an FB::HeaderMap.
//
// Lines end at each CR and at each LF; each line is trimmed of white space
// (as the global locale classifies it); lines without ":" (the status line,
// blank lines) are skipped. The name is the text before the first ":", the
// value the rest, both trimmed; either may be empty. A repeated name keeps
// every value, in the block's order.
// A pure function; any thread.
#ifndef FB_HTTPHEADERS_H
#define FB_HTTPHEADERS_H

#include <string>

#include "StreamTypes.h"

namespace FB {

HeaderMap parseHttpHeaders(const std::string& block);

} // namespace FB

#endif
