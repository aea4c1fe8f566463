#!/usr/bin/env bash
# One command from a fresh Debian machine: install the dependencies, then
# configure and build everything into ./build (extra cmake arguments pass on).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
