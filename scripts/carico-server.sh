#!/usr/bin/env bash
# Several offices on one PostgreSQL server at once: one database per office, each with its
# stations drawing in single numbering while two kiosks issue tickets (qvr-carico singola), all
# offices started together. Every office must end with every number exactly once.
#
#   bash scripts/carico-server.sh URI [UFFICI=5] [STAZIONI=10] [CHIAMATE=1000]
#
# URI names the server (any database, e.g. postgresql://qvr@127.0.0.1:5432/postgres); the offices
# are the databases qvr_ufficio1..N, replaced if present. Without URI, a throwaway cluster is
# started (scripts/servizi/postgresql.sh) and removed at the end. Exit status 0 when every office
# passed; the output of each office and the total throughput are printed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
URI=${1:-}
UFFICI=${2:-5}
STAZIONI=${3:-10}
CHIAMATE=${4:-1000}
CARICO=${QVR_CARICO:-build/qvr-carico}

if [ -z "$URI" ]; then
    pg=$(bash scripts/servizi/postgresql.sh avvia)
    eval "${pg//$'\n'/ ; }"
    trap 'bash scripts/servizi/postgresql.sh ferma "$QVR_PG_DATI"' EXIT
    URI=$QVR_PG_URI
fi
base=${URI%%\?*}
base=${base%/*}
lavoro=$(mktemp -d /tmp/qvr-carico-server.XXXXXX)
inizio=$(date +%s.%N)
pids=()
for u in $(seq 1 "$UFFICI"); do
    mkdir -p "$lavoro/$u"
    "$CARICO" singola --stazioni "$STAZIONI" --chiamate "$CHIAMATE" --cartella "$lavoro/$u" \
        --archivio "$base/qvr_ufficio$u" >"$lavoro/$u.txt" 2>&1 &
    pids+=($!)
done
stato=0
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || stato=1
done
fine=$(date +%s.%N)
for u in $(seq 1 "$UFFICI"); do
    echo "== Ufficio $u (qvr_ufficio$u)"
    cat "$lavoro/$u.txt"
    grep -q "ESITO: OK" "$lavoro/$u.txt" || stato=1
done
totale=$((UFFICI * STAZIONI * CHIAMATE))
awk -v t="$totale" -v a="$inizio" -v b="$fine" -v u="$UFFICI" \
    'BEGIN { printf "Totale: %d chiamate di %d uffici in %.1f s (%.0f al secondo)\n", t, u, b - a, t / (b - a) }'
rm -rf "$lavoro"
[ "$stato" -eq 0 ] && echo "ESITO COMPLESSIVO: OK" || echo "ESITO COMPLESSIVO: ERRORI"
exit "$stato"
