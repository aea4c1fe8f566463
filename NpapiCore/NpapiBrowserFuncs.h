// The copy of the browser's function table that the module and every host
// keep.
//
// An entry is copied only when the browser's table version has it and the
// browser's own size covers it: an older browser's shorter table is never
// read past its end. Every other entry stays null, which the callers treat
// as a function the browser lacks. Pure function; any thread.
#ifndef FB_NPAPI_NPAPIBROWSERFUNCS_H
#define FB_NPAPI_NPAPIBROWSERFUNCS_H

#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

// Zeroes dst, then copies size, version and the entries src may have.
void copyBrowserFuncs(NPNetscapeFuncs* dst, const NPNetscapeFuncs* src);

} // namespace Npapi
} // namespace FB

#endif
