// fakebrowser::Entry: the names of the browser function table's entries, in
// table order, as one list (X-macro) from which the recording, the per-entry
// counters and the poisoning of entries past a short table's size are made.
// Constants only: usable from any thread.
#ifndef FAKEBROWSER_BROWSERENTRIES_H
#define FAKEBROWSER_BROWSERENTRIES_H

#include <cstddef>

#define FAKEBROWSER_NPN_ENTRIES(X)                                                                    \
    X(geturl) X(posturl) X(requestread) X(newstream) X(write) X(destroystream) X(status) X(uagent)    \
    X(memalloc) X(memfree) X(memflush) X(reloadplugins) X(getJavaEnv) X(getJavaPeer) X(geturlnotify) \
    X(posturlnotify) X(getvalue) X(setvalue) X(invalidaterect) X(invalidateregion) X(forceredraw)    \
    X(getstringidentifier) X(getstringidentifiers) X(getintidentifier) X(identifierisstring)         \
    X(utf8fromidentifier) X(intfromidentifier) X(createobject) X(retainobject) X(releaseobject)      \
    X(invoke) X(invokeDefault) X(evaluate) X(getproperty) X(setproperty) X(removeproperty)           \
    X(hasproperty) X(hasmethod) X(releasevariantvalue) X(setexception) X(pushpopupsenabledstate)     \
    X(poppopupsenabledstate) X(enumerate) X(pluginthreadasynccall) X(construct) X(getvalueforurl)    \
    X(setvalueforurl) X(getauthenticationinfo) X(scheduletimer) X(unscheduletimer)                   \
    X(popupcontextmenu) X(convertpoint) X(handleevent) X(unfocusinstance) X(urlredirectresponse)     \
    X(initasyncsurface) X(finalizeasyncsurface) X(setcurrentasyncsurface)

namespace fakebrowser {

enum class Entry {
#define FAKEBROWSER_ENTRY_ENUM(name) name,
    FAKEBROWSER_NPN_ENTRIES(FAKEBROWSER_ENTRY_ENUM)
#undef FAKEBROWSER_ENTRY_ENUM
};

#define FAKEBROWSER_ENTRY_COUNT(name) +1
constexpr std::size_t kEntryCount = 0 FAKEBROWSER_NPN_ENTRIES(FAKEBROWSER_ENTRY_COUNT);
#undef FAKEBROWSER_ENTRY_COUNT

// The NPNetscapeFuncs field name of an entry ("getproperty", ...).
const char* entryName(Entry entry);

} // namespace fakebrowser

#endif
