#include "NpapiBrowserFuncs.h"

#include <cstring>

namespace FB {
namespace Npapi {

namespace {

struct CopiedEntry {
    size_t offset;
    uint16_t minVersion;
};

#define FB_ENTRY(field, version) {offsetof(NPNetscapeFuncs, field), version}

// Every entry the plugin may call and the table version that brings it.
// getJavaEnv, getJavaPeer and the entries after unscheduletimer stay empty.
const CopiedEntry kCopiedEntries[] = {
    FB_ENTRY(geturl, 0), FB_ENTRY(posturl, 0), FB_ENTRY(requestread, 0),
    FB_ENTRY(newstream, 0), FB_ENTRY(write, 0), FB_ENTRY(destroystream, 0),
    FB_ENTRY(status, 0), FB_ENTRY(uagent, 0), FB_ENTRY(memalloc, 0),
    FB_ENTRY(memfree, 0), FB_ENTRY(memflush, 0), FB_ENTRY(reloadplugins, 0),
    FB_ENTRY(geturlnotify, 0), FB_ENTRY(posturlnotify, 0), FB_ENTRY(getvalue, 0),
    FB_ENTRY(setvalue, 0), FB_ENTRY(invalidaterect, 0), FB_ENTRY(invalidateregion, 0),
    FB_ENTRY(forceredraw, 0), FB_ENTRY(getstringidentifier, 0),
    FB_ENTRY(getstringidentifiers, 0), FB_ENTRY(getintidentifier, 0),
    FB_ENTRY(identifierisstring, 0), FB_ENTRY(utf8fromidentifier, 0),
    FB_ENTRY(intfromidentifier, 0), FB_ENTRY(createobject, 0), FB_ENTRY(retainobject, 0),
    FB_ENTRY(releaseobject, 0), FB_ENTRY(invoke, 0), FB_ENTRY(invokeDefault, 0),
    FB_ENTRY(evaluate, 0), FB_ENTRY(getproperty, 0), FB_ENTRY(setproperty, 0),
    FB_ENTRY(removeproperty, 0), FB_ENTRY(hasproperty, 0), FB_ENTRY(hasmethod, 0),
    FB_ENTRY(releasevariantvalue, 0), FB_ENTRY(setexception, 0), FB_ENTRY(construct, 0),
    FB_ENTRY(pushpopupsenabledstate, NPVERS_HAS_POPUPS_ENABLED_STATE),
    FB_ENTRY(poppopupsenabledstate, NPVERS_HAS_POPUPS_ENABLED_STATE),
    FB_ENTRY(enumerate, NPVERS_HAS_NPOBJECT_ENUM),
    FB_ENTRY(pluginthreadasynccall, NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL),
    FB_ENTRY(getvalueforurl, NPVERS_HAS_URL_AND_AUTH_INFO),
    FB_ENTRY(setvalueforurl, NPVERS_HAS_URL_AND_AUTH_INFO),
    FB_ENTRY(getauthenticationinfo, NPVERS_HAS_URL_AND_AUTH_INFO),
    FB_ENTRY(scheduletimer, NPVERS_HAS_TIMERS),
    FB_ENTRY(unscheduletimer, NPVERS_HAS_TIMERS),
};

#undef FB_ENTRY

} // namespace

void copyBrowserFuncs(NPNetscapeFuncs* dst, const NPNetscapeFuncs* src)
{
    std::memset(dst, 0, sizeof(*dst));
    if (!src)
        return;
    dst->size = src->size;
    dst->version = src->version;
    char* const to = reinterpret_cast<char*>(dst);
    const char* const from = reinterpret_cast<const char*>(src);
    for (const CopiedEntry& entry : kCopiedEntries) {
        if (src->version < entry.minVersion || entry.offset + sizeof(void*) > src->size)
            continue;
        std::memcpy(to + entry.offset, from + entry.offset, sizeof(void*));
    }
}

} // namespace Npapi
} // namespace FB
