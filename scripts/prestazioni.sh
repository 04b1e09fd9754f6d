#!/usr/bin/env bash
# The performance report in one command: installs what is missing, builds Release in
# build-prestazioni/, runs every benchmark, measures the real client under X and prints the
# figures. It never fails on a time: the exit status is not 0 only when something could not be
# built or run at all.
#   bash scripts/prestazioni.sh            full run (about 4 minutes, one of them idle)
#   bash scripts/prestazioni.sh --rapido   fewer iterations and a 40 s idle window
# Without a display it runs itself again under Xvfb. Run it on a quiet machine: the load
# average is printed at the start and at the end.
set -uo pipefail
export LC_ALL=C
cd "$(dirname "${BASH_SOURCE[0]}")/.."
RADICE=$PWD
B="$RADICE/build-prestazioni"
TITOLO='^QVR - 3\.7\.2 - Modulo Client$'

rapido=0
for arg in "$@"; do
    case "$arg" in
    --rapido) rapido=1 ;;
    --sotto-x) ;; # internal: already under Xvfb
    -h | --help)
        sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "prestazioni.sh: argomento sconosciuto: $arg (usare --rapido o --help)" >&2
        exit 2
        ;;
    esac
done

# The project's packages, and what the measurements need besides them.
source scripts/comune.sh

if [[ " $* " != *" --sotto-x "* ]]; then
    installa_mancanti "${PACCHETTI_QVR[@]}" libx11-dev strace || exit 1
    cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVR_BENCH=ON >/dev/null || exit 1
    ninja -C "$B" qvr-client qvr-archivio bench_archivio bench_chiamata bench_avvio || exit 1
    if [ -z "${DISPLAY:-}" ]; then
        exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@" --sotto-x
    fi
fi
unset QT_QPA_PLATFORM # the real display platform for the client and the start-up benchmark

# --------------------------------------------------------------------------------------------
titolo() { printf '\n=== %s ===\n' "$*"; }

titolo "Macchina"
echo "CPU:      $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) core"
echo "Memoria:  $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo)"
disco=$(df --output=source "$B" | tail -1)
echo "Disco:    $disco ($(df --output=fstype "$B" | tail -1)), rotazionale=$(cat "/sys/block/$(basename "$disco" | sed 's/[0-9]*$//')/queue/rotational" 2>/dev/null || echo '?')"
echo "Kernel:   $(uname -r)"
echo "Qt:       $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo '?')"
echo "SQLite:   $(dpkg-query -W -f='${Version}' libsqlite3-0 2>/dev/null || echo '?')"
echo "Carico:   $(uptime | sed 's/.*load average: //') (all'inizio)"

# Short blocks and many rounds: the client and the bare operations alternate often, so a burst
# of disk traffic from elsewhere weighs on both alike.
if [ "$rapido" = 1 ]; then ITER=5 GIRI=6 AVVII=4 FINESTRA=40; else ITER=10 GIRI=20 AVVII=7 FINESTRA=60; fi
# Temporary files on the same disk as the build (not a RAM disk): syncs are what is measured.
export TMPDIR="$B/tmp"
mkdir -p "$TMPDIR"

titolo "Chiamata, aggiornamento del totem e limite nudo (bench_chiamata)"
"$B/bench/bench_chiamata" "$ITER" "$GIRI" || echo "bench_chiamata non riuscito"

titolo "Sincronizzazioni su disco per operazione (strace -c, differenza fra 20 e 0 operazioni)"
conta_sync() { # modo n -> fsync+fdatasync calls
    local f="$TMPDIR/strace.$$"
    strace -f -qq -c -e trace=fsync,fdatasync -o "$f" "$B/bench/bench_chiamata" --solo "$1" "$2" >/dev/null 2>&1
    awk '$NF=="fsync" || $NF=="fdatasync" {s += $4} END {print s+0}' "$f"
    rm -f "$f"
}
if command -v strace >/dev/null; then
    for modo in standard singola coda-singola coda-standard pressione-standard pressione-singola; do
        zero=$(conta_sync "$modo" 0)
        venti=$(conta_sync "$modo" 20)
        awk -v m="$modo" -v a="$zero" -v b="$venti" 'BEGIN {printf "  %-22s %5.1f sync per operazione\n", m, (b-a)/20}'
    done
else
    echo "  strace assente: conteggio saltato"
fi

titolo "Limite nudo del display e del contatore (bench_archivio)"
"$B/bench/bench_archivio" "$((ITER * 2))" "$GIRI" || echo "bench_archivio non riuscito"

# One copy of the client per machine: wait for a client started by someone else to end.
attendi_altre_copie() {
    local _
    for _ in $(seq 120); do
        pgrep -x qvr-client >/dev/null || return 0
        sleep 1
    done
    echo "  attenzione: un altro qvr-client gira su questa macchina"
}

attendi_altre_copie
titolo "Avvio: processi nuovi che eseguono il codice di main, poi il client vero visto dal server X (bench_avvio)"
"$B/bench/bench_avvio" "$AVVII" || echo "bench_avvio non riuscito"

# --------------------------------------------------------------------------------------------
titolo "Il client vero sotto X (build-prestazioni/qvr-client, misurato da fuori)"
LAVORO=$(mktemp -d "$TMPDIR/client.XXXXXX")
ARCHIVIO="$LAVORO/archivio"
"$B/qvr-archivio" crea "$ARCHIVIO" --totem >/dev/null || { echo "archivio non creato"; exit 1; }
for _ in 1 2 3 4 5 6 7 8 9 10; do "$B/qvr-archivio" biglietto "$ARCHIVIO" 1 >/dev/null; done
(cd "$LAVORO" && "$B/qvr-archivio" percorsi "$ARCHIVIO" 1 >/dev/null)

attendi_altre_copie

ns() { date +%s%N; }
finestra_di() { xdotool search --onlyvisible --pid "$1" --name "$TITOLO" 2>/dev/null; }
PID=""
avvia_client() {
    (cd "$LAVORO" && exec "$B/qvr-client") 2>"$LAVORO/stderr.txt" &
    PID=$!
}
ferma_client() {
    [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    PID=""
}
trap 'ferma_client; rm -rf "$LAVORO"' EXIT

# One start for the idle console and the memory (the start-up times are bench_avvio's, above).
avvia_client
ID=""
t0=$(ns)
while [ -z "$ID" ] && kill -0 "$PID" 2>/dev/null && [ $(($(ns) - t0)) -lt 20000000000 ]; do
    ID=$(finestra_di "$PID" | head -1)
    [ -z "$ID" ] && sleep 0.05
done
if [ -z "$ID" ] || ! kill -0 "$PID" 2>/dev/null; then
    echo "  il lanciatore non è apparso: $(cat "$LAVORO/stderr.txt")"
    exit 0
fi
sleep 0.5

# "Avvia Client": the focus starts on the kiosk box, the next control is "Avvia Client".
xdotool windowfocus --sync "$ID" 2>/dev/null
xdotool key Tab space
t0=$(ns)
CONSOLE=""
while [ -z "$CONSOLE" ] && kill -0 "$PID" 2>/dev/null && [ $(($(ns) - t0)) -lt 20000000000 ]; do
    CONSOLE=$(finestra_di "$PID" | grep -vx "$ID" | head -1)
    [ -z "$CONSOLE" ] && sleep 0.05
done
if [ -z "$CONSOLE" ]; then
    echo "  la console non è apparsa: $(cat "$LAVORO/stderr.txt")"
    exit 0
fi
T_CONSOLE=$EPOCHREALTIME
echo "  console aperta (pid $PID, finestra $CONSOLE)"

# CPU of the idle console: on-CPU time of each thread (schedstat, nanoseconds) sampled every
# half second, and utime+stime of the process (clock ticks) over the whole window. Timer1 ticks
# every 32 s from the console's load.
declare -A prima nomi
fotografia() { # fills the array named $1 with tid -> on-CPU ns
    local -n f=$1
    f=()
    local t a _
    for t in /proc/"$PID"/task/*; do
        read -r a _ <"$t/schedstat" 2>/dev/null || continue
        f[${t##*/}]=$a
        [ -n "${nomi[${t##*/}]:-}" ] || nomi[${t##*/}]=$(cat "$t/comm" 2>/dev/null)
    done
}
tick_clock() { awk '{print $14 + $15}' "/proc/$PID/stat"; }
us_da() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%d", (b - a) * 1e6}'; }
sleep 1
fotografia prima
declare -A inizio_thread
for k in "${!prima[@]}"; do inizio_thread[$k]=${prima[$k]}; done
inizio_tick=$(tick_clock)
inizio=$EPOCHREALTIME
campioni=()
declare -A ora
while [ "$(us_da "$inizio" "$EPOCHREALTIME")" -lt $((FINESTRA * 1000000)) ]; do
    sleep 0.5
    fotografia ora
    d=0
    # Only threads alive at both ends of the half second: one that ended takes its count away.
    for k in "${!ora[@]}"; do
        [ -n "${prima[$k]:-}" ] && d=$((d + ora[$k] - prima[$k]))
    done
    campioni+=("$(us_da "$T_CONSOLE" "$EPOCHREALTIME") $((d / 1000))")
    prima=()
    for k in "${!ora[@]}"; do prima[$k]=${ora[$k]}; done
done
fine_tick=$(tick_clock)
durata=$(($(us_da "$inizio" "$EPOCHREALTIME") / 1000))
HZ=$(getconf CLK_TCK)
echo "  console inattiva con il totem, finestra di $durata ms:"
printf '    utime+stime del processo:  %d tick di clock da %s ms\n' "$((fine_tick - inizio_tick))" \
    "$(awk -v h="$HZ" 'BEGIN {print 1000/h}')"
# The half seconds within 1 s of a tick (32 s, 64 s ... after the load) against the others.
printf '%s\n' "${campioni[@]}" | awk '
    { fine = $1 / 1000; tick = 0
      for (k = 32000; k <= fine + 1500; k += 32000) if (fine > k - 1000 && fine < k + 1500) tick = 1
      if (tick) ct += $2; else { cq += $2; nq++; if ($2 > mq) mq = $2 }
      if ($2 > 0) elenco = elenco sprintf(" %.1fs:%dus%s", fine / 1000, $2, tick ? "(tick)" : "") }
    END {
      printf "    intorno ai tick di Timer1:  CPU %.0f us\n", ct
      printf "    fra i tick (%.0f s):         CPU %.0f us in tutto, %.1f us/s di media, massimo %.0f us in mezzo secondo\n", nq / 2, cq, nq ? cq / (nq / 2) : 0, mq
      printf "    mezzi secondi con CPU (dal caricamento della console):%s\n", elenco
    }'
echo "    per thread (CPU nella finestra):"
for k in "${!inizio_thread[@]}"; do
    if [ -n "${prima[$k]:-}" ]; then
        printf '      %-22s %8d us\n' "${nomi[$k]}" $(((prima[$k] - inizio_thread[$k]) / 1000))
    else
        printf '      %-22s terminato nella finestra\n' "${nomi[$k]}"
    fi
done
for k in "${!prima[@]}"; do
    [ -z "${inizio_thread[$k]:-}" ] && printf '      %-22s nato nella finestra: %d us\n' "${nomi[$k]}" $((prima[$k] / 1000))
done

# A few calls with the mouse on "Avanti" (the console is 4125 twips wide, the client area
# 1365 twips high below the menu; the button's middle is at 870, 405 twips).
eval "$(xdotool getwindowgeometry --shell "$CONSOLE")"
scala=$(awk -v w="$WIDTH" 'BEGIN {print w/4125}')
menu=$(awk -v h="$HEIGHT" -v s="$scala" 'BEGIN {printf "%d", h - 1365*s + 0.5}')
x=$(awk -v s="$scala" 'BEGIN {printf "%d", 870*s + 0.5}')
y=$(awk -v s="$scala" -v m="$menu" 'BEGIN {printf "%d", m + 405*s + 0.5}')
for _ in 1 2 3 4 5; do
    xdotool mousemove --window "$CONSOLE" "$x" "$y" click 1
    sleep 0.3
done
sleep 0.5
numero=$("$B/qvr-archivio" stato "$ARCHIVIO" 2>/dev/null | grep -m1 -i 'postazione 1\b\|NumeriCode1' || true)
echo "  dopo 5 chiamate col mouse: ${numero:-stato non letto}"
echo "  memoria del client: $(grep -E '^(VmHWM|VmRSS)' "/proc/$PID/status" | tr -s ' \t' ' ' | paste -sd ',' | sed 's/,/, /')"
ferma_client

titolo "Fine"
echo "Carico:   $(uptime | sed 's/.*load average: //') (alla fine)"
exit 0
