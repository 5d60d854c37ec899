#!/bin/sh
# Regenerates docs/page.png, the README's picture of the page: runs the
# page's browser test (CTest browser.page), which saves a screenshot after
# reading metadata of the demo tree, and copies that screenshot. Builds
# what the test runs first. Needs chromium, chromium-driver and
# python3-selenium (scripts/install-deps.sh installs them).
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target corvane-gateway corvane-sim >/dev/null
rm -f build/browser/page.png
(cd build && ctest -R '^browser\.page$' --output-on-failure)
# A skipped test passes without a picture.
[ -f build/browser/page.png ] || { echo "screenshot.sh: the browser test saved no screenshot" >&2; exit 1; }
mkdir -p docs
cp build/browser/page.png docs/page.png
echo "docs/page.png regenerated."
