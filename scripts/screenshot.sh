#!/bin/sh
# Regenerates docs/page.png, the README's picture of the page: runs the
# tree's browser test (CTest browser.tree), which saves a screenshot after
# reading a clip's stream from the tree, and copies that screenshot. Builds
# what the test runs first. Needs chromium, chromium-driver and
# python3-selenium (scripts/install-deps.sh installs them).
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target corvane-gateway corvane-sim >/dev/null
rm -f build/browser/page.png
(cd build && ctest -R '^browser\.tree$' --output-on-failure)
# A skipped test passes without a picture.
[ -f build/browser/page.png ] || { echo "screenshot.sh: the browser test saved no screenshot" >&2; exit 1; }
mkdir -p docs
cp build/browser/page.png docs/page.png
echo "docs/page.png regenerated."
