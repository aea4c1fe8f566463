#include "PluginWindow.h"

namespace FB {

PluginWindow::~PluginWindow()
{
}

} // namespace FB
