#!/usr/bin/env bash
# Builds the libFuzzer targets of the settings-file and counter-file readers with clang++ in
# build-fuzz/ and runs each for a bounded time, seeded with the damaged files under tests/dati
# (copied into a temporary folder: the tree stays clean). A crash, a sanitizer report or a hang
# fails the script; the input that caused it is kept in build-fuzz/reperti/.
#   bash scripts/fuzz.sh          60 s for each target (CI)
#   bash scripts/fuzz.sh 1800     30 minutes for each target, by hand
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
radice=$(pwd)
secondi=${1:-60}
cartella=${QVR_BUILD_FUZZ:-build-fuzz}

if ! command -v clang++ >/dev/null 2>&1 || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    versione=$( (clang++ --version 2>/dev/null || true) | sed -n 's/.*clang version \([0-9]*\).*/\1/p')
    pacchetti=(clang)
    [ -n "$versione" ] && pacchetti+=("libclang-rt-$versione-dev") || pacchetti+=(libclang-rt-14-dev)
    source scripts/comune.sh
    installa_mancanti "${pacchetti[@]}"
fi

cmake -S . -B "$cartella" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DQVR_FUZZ=ON -DQVR_BENCH=OFF
cmake --build "$cartella" --target fuzz_percorsi fuzz_contatore

lavoro=$(mktemp -d)
trap 'rm -rf "$lavoro"' EXIT
mkdir -p "$cartella/reperti"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$radice/tests/lsan.supp"
export QT_QPA_PLATFORM=offscreen

stato=0
for coppia in percorsi:percorsi contatore:contatore; do
    bersaglio=fuzz_${coppia%%:*}
    semi=tests/dati/${coppia##*:}
    corpus="$lavoro/$bersaglio"
    mkdir -p "$corpus"
    cp "$semi"/* "$corpus"/
    echo "== $bersaglio per $secondi s (semi: $semi)"
    # The fuzzer's progress goes to a log; its final figures, or the whole log on a failure,
    # are printed.
    registro="$radice/$cartella/$bersaglio.log"
    if "$cartella/fuzz/$bersaglio" "$corpus" -max_total_time="$secondi" -timeout=10 \
        -rss_limit_mb=2048 -max_len=70000 -print_final_stats=1 \
        -artifact_prefix="$radice/$cartella/reperti/$bersaglio-" >"$registro" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$registro" || true
    else
        tail -n 60 "$registro"
        echo "$bersaglio: guasto trovato, l'ingresso è in $cartella/reperti/" >&2
        stato=1
    fi
done
exit "$stato"
