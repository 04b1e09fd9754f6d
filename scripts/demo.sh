#!/usr/bin/env bash
# Installs what is missing, builds the client, the board and the kiosk in build/ and shows the
# whole office at work on a demo archive: the kiosk, a station's console and the waiting-room
# board come up together; three tickets are taken at the kiosk and called from the console; the
# board shows each call and its announcement of the last one is saved as demo/annuncio.wav;
# the office's recorder qvr-server keeps the journal meanwhile, and today's figures are left as
# demo/statistiche.pdf and demo/statistiche.csv.
#   bash scripts/demo.sh           keeps ./demo/archivio when it is already there
#   bash scripts/demo.sh --nuovo   creates the demo archive afresh
# Every run starts a new day on the archive (the counters go back to 0). The client runs with
# ./demo as its working directory (percorsi.txt and the call history are there). Without a
# display everything runs under Xvfb and ends by itself; the screenshots are demo/totem.png,
# demo/postazione.png, demo/tabellone.png and demo/schermata.png (the whole screen), then the
# manager's window qvr-ufficio on its page of today, demo/ufficio.png. With a display the
# windows stay open for you to use: closing the console ends the demo.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
RADICE=$PWD
DEMO="$RADICE/demo"
ARCHIVIO="$DEMO/archivio"
STRUMENTO="$RADICE/build/qvr-archivio"

if [ "${1:-}" = --scena ]; then
    # The scene, on $DISPLAY with a window manager: started by the part below.
    cd "$DEMO"
    pid=()
    fine() {
        [ ${#pid[@]} -gt 0 ] && kill "${pid[@]}" 2>/dev/null
        wait 2>/dev/null || true
    }
    trap fine EXIT
    # finestra TITLE: the id of the newest window of that title, waited for up to 20 s.
    finestra() {
        local id=""
        for _ in $(seq 200); do
            id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1) || true
            [ -n "$id" ] && break
            sleep 0.1
        done
        [ -n "$id" ] || { echo "demo: la finestra \"$1\" non compare" >&2; return 1; }
        echo "$id"
    }
    attiva() { xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1"; }
    # aspetta SECONDS COMMAND...: until the command succeeds, at most SECONDS.
    aspetta() {
        local fino=$((SECONDS + $1))
        shift
        until "$@"; do
            [ $SECONDS -lt $fino ] || return 1
            sleep 0.1
        done
    }
    # emessi N: the kiosk has issued N tickets for station 1; chiamate N: the board has shown
    # N calls.
    emessi() { "$STRUMENTO" stato "$ARCHIVIO" | grep -q "^Totem:.* P1=$1,"; }
    chiamate() { [ -f registro.txt ] && [ "$(wc -l <registro.txt)" -ge "$1" ]; }

    rm -f registro.txt
    # The office's recorder keeps the journal of everything below (demo/qvr-server.log).
    # Its web board on a free local port, for the browser's screenshot at the end.
    porta_web=$(bash "$RADICE/scripts/servizi/postgresql.sh" porta)
    "$RADICE/build/qvr-server" --archivio "$ARCHIVIO" --ascolta "127.0.0.1:$porta_web" \
        2>>qvr-server.log &
    registratore=$!
    pid+=("$registratore")
    "$RADICE/build/qvr-tabellone" --finestra --archivio "$ARCHIVIO" --registro registro.txt &
    pid+=($!)
    tabellone=$(finestra "QVR - Tabellone")
    xdotool windowsize "$tabellone" 1100 760 windowmove "$tabellone" 800 40
    "$RADICE/build/qvr-totem" --finestra --archivio "$ARCHIVIO" &
    pid+=($!)
    totem=$(finestra "QVR Totem")
    xdotool windowsize "$totem" 640 600 windowmove "$totem" 40 460
    # Three tickets at the kiosk, for station 1: key 1 presses its first service. The kiosk shows
    # each number for a moment and takes the next tap only after it is back on its services.
    # The console, started next, finds the three people waiting (it reads the count at its start
    # and then every 32 s).
    for n in 1 2 3; do
        attiva "$totem"
        xdotool key 1
        aspetta 10 emessi "$n" || { echo "demo: il totem non ha emesso il biglietto $n" >&2; exit 1; }
        [ "$n" = 1 ] && { sleep 0.5; import -window "$totem" totem.png; }
        sleep 2.5
    done
    echo "Biglietti emessi al totem: 1, 2, 3"


    "$RADICE/build/qvr-client" &
    client=$!
    pid+=("$client")
    # The launcher first: Enter presses "Avvia Client" and the console takes its place.
    avvio=$(finestra "QVR - 3.7.2 - Modulo Client")
    attiva "$avvio"
    xdotool key Return
    aspetta 20 bash -c "! xdotool search --onlyvisible --name '^QVR - 3.7.2 - Modulo Client\$' | grep -qx $avvio"
    console=$(finestra "QVR - 3.7.2 - Modulo Client")
    xdotool windowmove "$console" 40 40

    # The console calls them: Space presses its focused "Avanti" button; the board shows each.
    for n in 1 2 3; do
        attiva "$console"
        xdotool key space
        aspetta 10 chiamate "$n" || { echo "demo: il tabellone non mostra la chiamata $n" >&2; exit 1; }
        sleep 1
    done
    echo "Chiamate mostrate dal tabellone:"
    sed 's/^\([0-9]*\) \([0-9]*\)$/  postazione \1, numero \2/' registro.txt
    sleep 1
    import -window "$console" postazione.png
    attiva "$tabellone"
    sleep 0.5
    import -window "$tabellone" tabellone.png
    import -window root schermata.png
    read -r postazione numero < <(tail -n 1 registro.txt)
    "$RADICE/build/qvr-tabellone" --wav annuncio.wav "$numero" "$postazione"
    echo "Annuncio di \"Numero $numero, postazione $postazione\": $DEMO/annuncio.wav"
    # The same calls on the recorder's web board, as a television's browser shows it.
    if command -v chromium >/dev/null; then
        # pagina_web FILE LARGHEZZA,ALTEZZA INDIRIZZO: a page of the recorder in headless chromium.
        pagina_web() {
            local profilo
            profilo=$(mktemp -d)
            timeout 60 chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
                --disable-background-networking --disable-component-update --disable-sync \
                --user-data-dir="$profilo" --window-size="$2" --hide-scrollbars --timeout=3000 \
                --screenshot="$DEMO/$1" "$3" >/dev/null 2>&1 ||
                echo "demo: nessuna schermata di $3" >&2
            rm -rf "$profilo"
        }
        pagina_web web-tabellone.png 1920,1080 "http://127.0.0.1:$porta_web/tabellone?audio=0"
        [ -f web-tabellone.png ] && echo "Tabellone web (http://127.0.0.1:$porta_web/tabellone): $DEMO/web-tabellone.png"
        # A customer's ticket on the phone: one more ticket for station 1, its page opened by the
        # code the recorder journals for it (what the kiosk's QR code carries), at 390x844.
        nuovo=$("$RADICE/build/qvr-archivio" biglietto "$ARCHIVIO" 1)
        codice=
        for _ in $(seq 50); do
            codice=$(sqlite3 -readonly "$ARCHIVIO/Registro.mdb" "SELECT Codice FROM Eventi WHERE
                Tipo = 'biglietto' AND Sequenza = 1 AND Numero = ${nuovo:-0} AND
                OraUtcMs > (strftime('%s', 'now') - 60) * 1000 ORDER BY Seq DESC LIMIT 1" \
                2>/dev/null)
            [ -n "$codice" ] && break
            sleep 0.1
        done
        if [ -n "$codice" ]; then
            pagina_web web-biglietto.png 390,844 "http://127.0.0.1:$porta_web/biglietto/$codice"
            [ -f web-biglietto.png ] && echo "Biglietto sul telefono (http://127.0.0.1:$porta_web/biglietto/$codice): $DEMO/web-biglietto.png"
        fi
    fi
    # Today's figures from the recorder's journal, stopped first so that its stop is recorded.
    kill -TERM "$registratore"
    wait "$registratore" || true
    oggi=$(date +%F)
    "$STRUMENTO" statistiche "$ARCHIVIO" --dal "$oggi" --al "$oggi" \
        --csv statistiche.csv --pdf statistiche.pdf 2>/dev/null | sed -n '1,8p'
    echo "Statistiche di oggi: $DEMO/statistiche.pdf, $DEMO/statistiche.csv"
    # The manager's window on the same archive, at a desk's 1366x768, on its page of today.
    "$RADICE/build/qvr-ufficio" --archivio "$ARCHIVIO" &
    ufficio=$!
    pid+=("$ufficio")
    finestra_ufficio=$(finestra "QVR Ufficio - $ARCHIVIO")
    # Beside the console, which stays on top of every window.
    xdotool windowsize "$finestra_ufficio" 1366 740 windowmove "$finestra_ufficio" 540 320
    attiva "$finestra_ufficio"
    xdotool key alt+g
    sleep 1.5
    import -window "$finestra_ufficio" ufficio.png
    echo "Finestra dell'ufficio: $DEMO/ufficio.png"
    if [ "${QVR_DEMO_RESTA:-0}" = 1 ]; then
        echo "Le finestre restano aperte: chiudere la postazione per terminare"
        wait "$client" || true
    fi
    exit 0
fi

nuovo=0
for arg in "$@"; do
    case "$arg" in
    --nuovo) nuovo=1 ;;
    -h | --help)
        sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
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
cmake --build build --target qvr-client qvr-archivio qvr-tabellone qvr-totem qvr-server \
    qvr-ufficio

mkdir -p "$DEMO"
if [ "$nuovo" = 1 ] || [ ! -f "$ARCHIVIO/QVR.mdb" ]; then
    # Station 1 in standard numbering, station 2 in single numbering, the kiosk in use.
    "$STRUMENTO" crea "$ARCHIVIO" --singola 2 --totem --sovrascrivi
else
    echo "Archivio dimostrativo esistente mantenuto: $ARCHIVIO (--nuovo per ricrearlo)"
fi
"$STRUMENTO" nuova-giornata "$ARCHIVIO" >/dev/null
(cd "$DEMO" && "$STRUMENTO" percorsi "$ARCHIVIO" 1)

# The kiosk's settings under ./demo/config (two services; tickets go to demo/biglietti.escpos
# as a roll printer's bytes, so the demo needs no printer), and the board's beside them.
mkdir -p "$DEMO/config/qvr"
# The kiosk serves only with a PIN: the demo's is 1234 (its salted hash below).
grep -qs '^\[pin\]' "$DEMO/config/qvr/qvr-totem.ini" || printf '%s\n' '[generale]' \
    'ufficio=Ufficio dimostrativo' 'ritorno=2' '[stampa]' 'modo=escpos-file' \
    "dispositivo=$DEMO/biglietti.escpos" 'carta=80' '[servizi]' '1\etichetta=Postazione 1' \
    '1\sequenza=P1' '2\etichetta=Numerazione singola' '2\sequenza=P11' 'size=2' '[pin]' \
    'sale=5f1e0c9a3b7d42e8a6c1f0b9d3e7a254' \
    'impronta=6af3381737057c02c07eae14184653368f6bfad346d859af5b56681e2bcfb6b7' \
    'iterazioni=100000' >"$DEMO/config/qvr/qvr-totem.ini"
chmod 600 "$DEMO/config/qvr/qvr-totem.ini"
: >"$DEMO/biglietti.escpos"
export XDG_CONFIG_HOME="$DEMO/config"
scena=(bash "$RADICE/scripts/demo.sh" --scena)
rm -f "$DEMO"/{totem,postazione,tabellone,schermata,web-tabellone,web-biglietto,ufficio}.png "$DEMO/annuncio.wav" \
    "$DEMO"/statistiche.{pdf,csv}
if [ -n "${DISPLAY:-}" ]; then
    QVR_DEMO_RESTA=1 bash scripts/servizi/finestre.sh "${scena[@]}"
else
    echo "Nessun display: l'ufficio gira sotto Xvfb, schermate in $DEMO/"
    xvfb-run -a -s "-screen 0 1920x1080x24" bash scripts/servizi/finestre.sh "${scena[@]}"
fi
ls "$DEMO"/*.png "$DEMO/annuncio.wav" "$DEMO/statistiche.pdf"
