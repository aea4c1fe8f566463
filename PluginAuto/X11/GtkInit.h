// FB::ensureGtkInitialized: initialises GTK+ 2 in the browser process when
// nobody did yet.
//
// Browsers that use GTK+ 2 themselves have done it already; others (QtWebKit
// for one) have not, and GTK must not be used before. Idempotent: once GTK
// is up, later calls answer true at once; a failed attempt (no display) is
// tried again by the next call. Main thread only, like every GTK call.
#ifndef FB_GTKINIT_H
#define FB_GTKINIT_H

namespace FB {

// Whether GTK is initialised with a display.
bool ensureGtkInitialized();

} // namespace FB

#endif
