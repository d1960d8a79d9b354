#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORIX_WERROR=ON
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure --timeout 600)
# Once more in our users' locale (scripts/setup.sh generates it).
(cd build && LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 ctest --output-on-failure --timeout 600)
# A few seconds of every fuzz target (scripts/fuzz.sh runs them for long).
bash scripts/fuzz.sh --smoke
# The Debian package: built, installed, printed through and purged (root on
# a disposable machine only; it says why it skips otherwise).
bash tests/package/test-package.sh
# The same again in a fresh Debian 13 chroot (root with network only; it says
# why it skips otherwise).
bash scripts/debian13-ci.sh
