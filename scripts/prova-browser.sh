#!/bin/bash
# The web pages' test in a real browser (tests/browser): installs puppeteer-core with npm ci from
# the committed package-lock.json into the build folder, then runs the test against Debian's
# chromium. Says "SALTATA:" with the reason, and succeeds, when npm or chromium is missing.
#   scripts/prova-browser.sh BUILD_DIR             the board page's and the phone page's tests
#   scripts/prova-browser.sh BUILD_DIR latenza [N] the latency from a station's commit to the
#                                                  page painted (4 stations, N calls each)
set -u
build=$(cd "${1:?cartella di build}" && pwd)
sorgente=$(cd "$(dirname "$0")/../tests/browser" && pwd)
chromium=${QVR_CHROMIUM:-/usr/bin/chromium}
if ! command -v npm > /dev/null || ! command -v node > /dev/null; then
    echo "SALTATA: npm o node non installati (pacchetto npm)"; exit 0
fi
if [ ! -x "$chromium" ]; then
    echo "SALTATA: $chromium non installato (pacchetto chromium)"; exit 0
fi
dir="$build/browser"
mkdir -p "$dir"
cp "$sorgente"/package.json "$sorgente"/package-lock.json "$sorgente"/*.js "$dir/"
if ! cmp -s "$dir/package-lock.json" "$dir/node_modules/.qvr-lock" 2> /dev/null; then
    if ! (cd "$dir" && npm ci --no-audit --no-fund --ignore-scripts > npm.log 2>&1); then
        echo "SALTATA: npm ci non riuscito (registro npm non raggiungibile?):"
        tail -5 "$dir/npm.log"; exit 0
    fi
    cp "$dir/package-lock.json" "$dir/node_modules/.qvr-lock"
fi
export QVR_CHROMIUM="$chromium"
if [ "${2:-}" = latenza ]; then
    exec node "$dir/latenza.js" "$build" "${3:-50}"
fi
node "$dir/tabellone.js" "$build" "$build/browser/schermate" || exit 1
exec node "$dir/biglietto.js" "$build" "$build/browser/schermate"
