#!/usr/bin/env bash
# One command from a fresh Debian machine: install the dependencies, then
# configure and build everything into ./build (extra cmake arguments pass on),
# install the plugin where browsers look for it and run the demo vendor page
# in QtWebKit (headless under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"

# The main job: the plugin in the plugin folder (FB_PLUGIN_INSTALL_DIR),
# scripted by a vendor page.
cmake --install build
plugin_dir=$(sed -n 's/^FB_PLUGIN_INSTALL_DIR:[A-Z]*=//p' build/CMakeCache.txt)
demo_args=(--plugin-dir "$plugin_dir")
# Without the vendor's main plugin, root can show its version lookup on an
# empty stand-in file in a private mount namespace.
main_plugins=/usr/lib64/mozilla/plugins
if [ "$(id -u)" -eq 0 ] && [ -z "$(ls "$main_plugins" 2>/dev/null | grep -i vudiriveze || true)" ]; then
  demo_args+=(--main-plugin-stand-in 1.8.2.3)
fi
demo/run-demo.py "${demo_args[@]}"
