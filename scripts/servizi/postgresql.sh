#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests and the benchmarks: initdb in a temporary folder,
# run by an unprivileged user (the server refuses root), its own port and socket folder, local
# connections trusted. Installs nothing beyond PACCHETTI_QVR (postgresql, libqt6sql6-psql).
#
#   postgresql.sh avvia [PORTA]        starts a cluster; prints the lines
#                                        QVR_PG_URI=postgresql://qvr@127.0.0.1:PORTA/postgres
#                                        QVR_PG_DATI=FOLDER      (its data folder)
#                                      to be exported (eval "$(postgresql.sh avvia)")
#   postgresql.sh ferma DATI           stops the cluster and removes its folder
#   postgresql.sh arresta DATI         stops the server only (the fault tests start it again)
#   postgresql.sh riavvia DATI         starts a stopped server again on its port
#   postgresql.sh standby DATI PORTA   makes a streaming standby of DATI (pg_basebackup) in a
#                                      folder beside it, starts it on PORTA, prints its folder
#   postgresql.sh promuovi DATI        promotes a standby to primary
#
# Exit status 0 on success; a message on standard error otherwise.
set -euo pipefail

BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$BIN" ] || [ ! -x "$BIN/initdb" ]; then
    echo "PostgreSQL non installato (pacchetto postgresql)" >&2
    exit 1
fi
UTENTE=${QVR_PG_UTENTE_SISTEMA:-nobody}

# Runs a command as the unprivileged user (as is, when the caller is not root).
come_utente() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid="$(id -u "$UTENTE")" --regid="$(id -g "$UTENTE")" --clear-groups \
            env HOME=/tmp LC_ALL=C "$@"
    else
        env LC_ALL=C "$@"
    fi
}

porta_libera() {
    local p
    for _ in $(seq 1 200); do
        p=$((20000 + RANDOM % 30000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            echo "$p"
            return 0
        fi
    done
    return 1
}

attendi_pronto() {
    local porta=$1
    for _ in $(seq 1 100); do
        "$BIN/pg_isready" -q -h 127.0.0.1 -p "$porta" && return 0
        sleep 0.1
    done
    return 1
}

# The port of a cluster: postgresql.auto.conf (a standby's own) before postgresql.conf.
porta_di() {
    local p
    p=$(sed -n 's/^port = \([0-9]*\).*/\1/p' "$1/postgresql.auto.conf" 2>/dev/null | tail -n 1)
    [ -n "$p" ] || p=$(sed -n 's/^port = \([0-9]*\).*/\1/p' "$1/postgresql.conf" | tail -n 1)
    echo "$p"
}

avvia_server() {
    local dati=$1
    come_utente "$BIN/pg_ctl" -D "$dati" -l "$dati/server.log" -w -t 30 start >/dev/null
    attendi_pronto "$(porta_di "$dati")"
}

case "${1:-}" in
avvia)
    porta=${2:-$(porta_libera)}
    radice=$(mktemp -d /tmp/qvr-pg.XXXXXX)
    chmod 755 "$radice"
    dati=$radice/primario
    mkdir -p "$dati" "$radice/socket"
    chown "$UTENTE" "$dati" "$radice/socket" 2>/dev/null || true
    chmod 700 "$dati"
    come_utente "$BIN/initdb" -D "$dati" -U qvr --auth=trust -E UTF8 --no-sync >/dev/null
    {
        echo "port = $porta"
        echo "listen_addresses = '127.0.0.1'"
        echo "unix_socket_directories = '$radice/socket'"
        echo "max_connections = 400"
        echo "shared_buffers = 64MB"
        echo "fsync = on"
        echo "wal_level = replica"
        echo "max_wal_senders = 4"
        echo "hot_standby = on"
    } >>"$dati/postgresql.conf"
    echo "host replication qvr 127.0.0.1/32 trust" >>"$dati/pg_hba.conf"
    if ! avvia_server "$dati"; then
        echo "PostgreSQL non avviato: $(tail -n 5 "$dati/server.log" 2>/dev/null)" >&2
        exit 1
    fi
    echo "QVR_PG_URI=postgresql://qvr@127.0.0.1:$porta/postgres"
    echo "QVR_PG_DATI=$dati"
    ;;
ferma)
    dati=${2:?cartella dei dati}
    radice=$(dirname "$dati")
    for d in "$radice"/*/; do
        [ -f "$d/PG_VERSION" ] && come_utente "$BIN/pg_ctl" -D "$d" -m immediate -w stop \
            >/dev/null 2>&1 || true
    done
    case "$radice" in /tmp/qvr-pg.*) rm -rf "$radice" ;; esac
    ;;
arresta)
    come_utente "$BIN/pg_ctl" -D "${2:?cartella dei dati}" -m fast -w stop >/dev/null
    ;;
riavvia)
    avvia_server "${2:?cartella dei dati}"
    ;;
standby)
    dati=${2:?cartella dei dati}
    porta=${3:?porta}
    copia=$(dirname "$dati")/standby-$porta
    mkdir -p "$copia"
    chown "$UTENTE" "$copia" 2>/dev/null || true
    chmod 700 "$copia"
    come_utente "$BIN/pg_basebackup" -h 127.0.0.1 -p "$(porta_di "$dati")" -U qvr -D "$copia" \
        -R -X stream -c fast --no-sync >/dev/null
    echo "port = $porta" >>"$copia/postgresql.auto.conf"
    avvia_server "$copia"
    echo "$copia"
    ;;
promuovi)
    come_utente "$BIN/pg_ctl" -D "${2:?cartella dei dati}" -w promote >/dev/null
    ;;
*)
    echo "uso: postgresql.sh avvia [PORTA] | ferma DATI | arresta DATI | riavvia DATI |" \
        "standby DATI PORTA | promuovi DATI" >&2
    exit 2
    ;;
esac
