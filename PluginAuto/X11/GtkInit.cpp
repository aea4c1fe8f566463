#include "GtkInit.h"

#include <atomic>

#include <gtk/gtk.h>

namespace FB {

namespace {
std::atomic<bool> gtkReady(false);
} // namespace

bool ensureGtkInitialized()
{
    if (gtkReady.load())
        return true;
    // After the browser's own initialisation gtk_init_check does nothing
    // but answer whether the default display is open.
    if (gtk_init_check(nullptr, nullptr))
        gtkReady = true;
    return gtkReady.load();
}

} // namespace FB
