#!/usr/bin/env bash
# Runs a command with a window manager (openbox) on the X display $DISPLAY, as on a desk: the
# tests of activation, focus and placement need one. openbox is started only when no window
# manager runs on the display yet, and stopped when the command ends; the command's status is
# the script's.
# Usage: bash scripts/servizi/finestre.sh COMMAND [ARG...]
set -uo pipefail

gestore_presente() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

avviato=""
if [ -n "${DISPLAY:-}" ] && ! gestore_presente; then
    openbox --sm-disable >/dev/null 2>&1 &
    avviato=$!
    for _ in $(seq 100); do
        gestore_presente && break
        sleep 0.1
    done
fi

stato=0
"$@" || stato=$?
if [ -n "$avviato" ]; then
    kill "$avviato" 2>/dev/null
    wait "$avviato" 2>/dev/null
fi
exit "$stato"
