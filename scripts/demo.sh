#!/usr/bin/env bash
# Installs what is missing, builds the client, the board and the kiosk in build/ and starts
# them on a demo archive.
#   bash scripts/demo.sh           keeps ./demo/archivio when it is already there
#   bash scripts/demo.sh --nuovo   creates the demo archive afresh
# The client runs with ./demo as its working directory (percorsi.txt and the call history are
# there). Without a display it runs under Xvfb for a few seconds and leaves a screenshot in
# ./demo/schermata.png.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
RADICE=$PWD

nuovo=0
for arg in "$@"; do
    case "$arg" in
    --nuovo) nuovo=1 ;;
    -h | --help)
        sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "demo.sh: argomento sconosciuto: $arg (usare --nuovo o --help)" >&2
        exit 2
        ;;
    esac
done

source scripts/comune.sh
installa_mancanti
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target qvr-client qvr-archivio qvr-tabellone qvr-totem

DEMO="$RADICE/demo"
ARCHIVIO="$DEMO/archivio"
STRUMENTO="$RADICE/build/qvr-archivio"
mkdir -p "$DEMO"
if [ "$nuovo" = 1 ] || [ ! -f "$ARCHIVIO/QVR.mdb" ]; then
    # Station 1 in standard numbering, station 2 in single numbering, the kiosk in use, and
    # three people waiting at station 1.
    "$STRUMENTO" crea "$ARCHIVIO" --singola 2 --totem --sovrascrivi
    for _ in 1 2 3; do "$STRUMENTO" biglietto "$ARCHIVIO" 1 >/dev/null; done
else
    echo "Archivio dimostrativo esistente mantenuto: $ARCHIVIO (--nuovo per ricrearlo)"
fi
(cd "$DEMO" && "$STRUMENTO" percorsi "$ARCHIVIO" 1)
"$STRUMENTO" stato "$ARCHIVIO"

# The kiosk on the same archive, with its own settings under ./demo/config (two services).
mkdir -p "$DEMO/config/qvr"
[ -f "$DEMO/config/qvr/qvr-totem.ini" ] || printf '%s\n' '[generale]' 'ufficio=Ufficio dimostrativo' \
    '[servizi]' '1\etichetta=Postazione 1' '1\sequenza=P1' '2\etichetta=Numerazione singola' \
    '2\sequenza=P11' 'size=2' >"$DEMO/config/qvr/qvr-totem.ini"
TOTEM=(env XDG_CONFIG_HOME="$DEMO/config" "$RADICE/build/qvr-totem" --finestra --archivio "$ARCHIVIO")

cd "$DEMO"
# The waiting-room board beside the client, in a window, with its settings kept in ./demo.
TABELLONE=("$RADICE/build/qvr-tabellone" --finestra --archivio "$ARCHIVIO")
export XDG_CONFIG_HOME="$DEMO/config"
if [ -n "${DISPLAY:-}" ]; then
    "${TABELLONE[@]}" &
    tabellone=$!
    "${TOTEM[@]}" &
    totem=$!
    "$RADICE/build/qvr-client" || true
    kill "$tabellone" "$totem" 2>/dev/null || true
    exit 0
fi

echo "Nessun display: il client gira sotto Xvfb, schermata in $DEMO/schermata.png"
rm -f schermata.png
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
    "${@:2}" &
    tabellone=$!
    sleep 1
    "$1" &
    client=$!
    sleep 5
    if ! kill -0 "$client" 2>/dev/null; then
        wait "$client"
        echo "Il client è terminato prima della schermata (codice $?)" >&2
        exit 1
    fi
    import -window root schermata.png
    kill "$client" "$tabellone"
    wait "$client" "$tabellone" 2>/dev/null || true
' demo "$RADICE/build/qvr-client" "${TABELLONE[@]}"
echo "Schermata salvata: $DEMO/schermata.png"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '"$@" & t=$!; sleep 3; import -window root totem.png
    kill "$t"; wait "$t" 2>/dev/null || true' totem "${TOTEM[@]}"
echo "Schermata del totem salvata: $DEMO/totem.png"
