#!/usr/bin/env bash
# Installs what is missing, builds everything in build/ and runs every test; then, when no
# argument is given, the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitizers.sh), the fuzz targets for a bounded time (scripts/fuzz.sh) and the install
# test of the Debian packages in a clean system (scripts/prova-installazione.sh, as root).
# The normal suite's status decides the result; a failure of the later runs fails it too.
# Extra arguments go to ctest, e.g.: bash scripts/test.sh -R strumento (normal suite only).
# QVR_SOLO_SUITE=1 skips the sanitized, fuzz and install runs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/comune.sh
installa_mancanti
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build

# The Qt Test programs run offscreen by themselves; the end-to-end tests need an X server, and
# the tests of the windows at a desk (activation, focus, placement) a window manager as well.
# CUPS and its PDF printer for the kiosk's printing tests (skipped with the reason when it cannot start).
bash scripts/servizi/cups.sh >/dev/null || echo "CUPS non avviato: le prove di stampa saranno saltate"
# A throwaway PostgreSQL cluster for the server archive's tests (QVR_PG_URI), stopped and removed
# at the end; without it those tests are skipped with the reason.
if pg=$(bash scripts/servizi/postgresql.sh avvia); then
    eval "export ${pg//$'\n'/ ; export }"
    trap 'bash scripts/servizi/postgresql.sh ferma "$QVR_PG_DATI"' EXIT
else
    echo "PostgreSQL non avviato: le prove dell'archivio sul server saranno saltate"
fi
stato=0
registro=build/ctest-ultimo.log
finestre=(bash scripts/servizi/finestre.sh)
if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "${finestre[@]}" \
        ctest --test-dir build --output-on-failure "$@" 2>&1 | tee "$registro" || stato=$?
else
    "${finestre[@]}" ctest --test-dir build --output-on-failure "$@" 2>&1 | tee "$registro" ||
        stato=$?
fi
if [ $# -eq 0 ] && [ "${QVR_SOLO_SUITE:-0}" != 1 ]; then
    altro=0
    bash scripts/sanitizers.sh || altro=$?
    fuzz=0
    bash scripts/fuzz.sh "${QVR_FUZZ_SECONDI:-60}" || fuzz=$?
    [ "$altro" -ne 0 ] || altro=$fuzz
    # The packages: built, checked, installed into a clean Debian 12 system made from scratch,
    # started there and removed (about five minutes; it makes the system as root).
    installazione=0
    if [ "$(id -u)" -eq 0 ]; then
        bash scripts/prova-installazione.sh || installazione=$?
    else
        echo "Prova d'installazione saltata: serve root (bash scripts/prova-installazione.sh)"
    fi
    [ "$altro" -ne 0 ] || altro=$installazione
    [ "$stato" -ne 0 ] || stato=$altro
    # The normal suite's summary closes the output.
    echo "== Riepilogo: sanitizzatori, fuzz e prova d'installazione $([ "$altro" -eq 0 ] && echo superati || echo FALLITI)"
    grep -E 'tests passed|tests failed' "$registro" | tail -n 1
fi
exit "$stato"
