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
#   postgresql.sh standby DATI [PORTA] makes a streaming standby of DATI (pg_basebackup) in a
#                                      folder beside it, starts it, prints the lines
#                                        QVR_PG_STANDBY_DATI=FOLDER
#                                        QVR_PG_STANDBY_PORTA=PORTA
#   postgresql.sh promuovi DATI        promotes a standby to primary
#   postgresql.sh porta                prints a free port (as chosen for a cluster)
#
# Ports: below the kernel's ephemeral range, so that no outgoing connection's local end and no
# client reconnecting to a stopped server (which can connect to itself on such a port) holds the
# port; found free by binding it, and another one tried when the server still cannot bind it.
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

# The highest port a cluster may take: two below the ephemeral range (a standby may take the
# port after its primary's).
porta_massima() {
    local basso
    basso=$(awk '{print $1}' /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null)
    [[ "$basso" =~ ^[0-9]+$ ]] || basso=32768
    echo $((basso - 2))
}

# True when PORT can be bound on 127.0.0.1 right now (perl is part of every Debian system).
porta_legabile() {
    perl -MIO::Socket::INET -e \
        'exit(IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => $ARGV[0],
                                   Proto => "tcp", Listen => 1, ReuseAddr => 1) ? 0 : 1)' "$1"
}

porta_libera() {
    local p massima
    massima=$(porta_massima)
    [ "$massima" -gt 20000 ] || massima=32766
    for _ in $(seq 1 200); do
        p=$((20000 + RANDOM % (massima - 20000 + 1)))
        if porta_legabile "$p"; then
            echo "$p"
            return 0
        fi
    done
    echo "nessuna porta libera tra 20000 e $massima" >&2
    return 1
}

# True when the server's log says that its port was taken.
porta_occupata_nel_log() {
    grep -qE 'could not bind|Address already in use|could not create any TCP/IP sockets' \
        "$1/server.log" 2>/dev/null
}

# Starts the cluster in DATI on a free port (PORTA when given), trying another port when the
# server cannot bind the chosen one; prints the port taken.
avvia_su_porta_libera() {
    local dati=$1 richiesta=${2:-} porta
    for _ in 1 2 3 4 5 6 7 8; do
        porta=${richiesta:-$(porta_libera)} || return 1
        # Written as the cluster's user, so that the files stay its own.
        come_utente bash -c 'sed -i "/^port = /d" "$1/postgresql.auto.conf" &&
            echo "port = $2" >>"$1/postgresql.auto.conf" && : >"$1/server.log"' _ "$dati" "$porta" ||
            return 1
        if avvia_server "$dati"; then
            echo "$porta"
            return 0
        fi
        come_utente "$BIN/pg_ctl" -D "$dati" -m immediate -w stop >/dev/null 2>&1 || true
        if [ -n "$richiesta" ] || ! porta_occupata_nel_log "$dati"; then
            break
        fi
    done
    echo "PostgreSQL non avviato: $(tail -n 5 "$dati/server.log" 2>/dev/null)" >&2
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
    come_utente "$BIN/pg_ctl" -D "$dati" -l "$dati/server.log" -w -t 30 start >/dev/null || return 1
    attendi_pronto "$(porta_di "$dati")"
}

case "${1:-}" in
avvia)
    radice=$(mktemp -d /tmp/qvr-pg.XXXXXX)
    chmod 755 "$radice"
    dati=$radice/primario
    mkdir -p "$dati" "$radice/socket"
    chown "$UTENTE" "$dati" "$radice/socket" 2>/dev/null || true
    chmod 700 "$dati"
    come_utente "$BIN/initdb" -D "$dati" -U qvr --auth=trust -E UTF8 --no-sync >/dev/null
    {
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
    if ! porta=$(avvia_su_porta_libera "$dati" "${2:-}"); then
        rm -rf "$radice"
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
    # The same port as before (the clients' addresses name it); nothing but a listener can hold
    # a port below the ephemeral range, so a failed bind is tried again for a few seconds.
    dati=${2:?cartella dei dati}
    for tentativo in 1 2 3 4 5; do
        avvia_server "$dati" && exit 0
        come_utente "$BIN/pg_ctl" -D "$dati" -m immediate -w stop >/dev/null 2>&1 || true
        [ "$tentativo" -lt 5 ] && sleep 1
    done
    echo "PostgreSQL non riavviato: $(tail -n 5 "$dati/server.log" 2>/dev/null)" >&2
    exit 1
    ;;
standby)
    dati=${2:?cartella dei dati}
    copia=$(mktemp -d "$(dirname "$dati")/standby.XXXXXX")
    chown "$UTENTE" "$copia" 2>/dev/null || true
    chmod 700 "$copia"
    come_utente "$BIN/pg_basebackup" -h 127.0.0.1 -p "$(porta_di "$dati")" -U qvr -D "$copia" \
        -R -X stream -c fast --no-sync >/dev/null
    if ! porta=$(avvia_su_porta_libera "$copia" "${3:-}"); then
        rm -rf "$copia"
        exit 1
    fi
    echo "QVR_PG_STANDBY_DATI=$copia"
    echo "QVR_PG_STANDBY_PORTA=$porta"
    ;;
promuovi)
    come_utente "$BIN/pg_ctl" -D "${2:?cartella dei dati}" -w promote >/dev/null
    ;;
porta)
    porta_libera
    ;;
*)
    echo "uso: postgresql.sh avvia [PORTA] | ferma DATI | arresta DATI | riavvia DATI |" \
        "standby DATI [PORTA] | promuovi DATI | porta" >&2
    exit 2
    ;;
esac
