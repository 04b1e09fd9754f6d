#!/usr/bin/env bash
# Install test of the Debian packages: builds them (scripts/pacchetti.sh), makes a clean Debian 12
# system from scratch with mmdebstrap (from the Debian package registry, as root), and inside it
# installs every package of dist/ with apt-get, starts every packaged program from /usr/bin under
# Xvfb on a demo archive as an ordinary user, takes a screenshot of each, then removes the
# packages and checks that nothing of them is left and that the system's package list is the one
# it had before. Screenshots land in dist/prova-installazione/.
#   bash scripts/prova-installazione.sh             build, then test in a fresh chroot
#   bash scripts/prova-installazione.sh --pronti    test the packages already in dist/
# (--dentro is the part run inside the chroot.)
set -euo pipefail

if [ "${1:-}" = --dentro ]; then
    # Inside the clean system: /tmp/qvr holds the packages; screenshots go to /tmp/qvr/schermate.
    export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
    Q=/tmp/qvr
    mkdir -p "$Q/schermate"
    chmod 777 "$Q/schermate"
    dpkg-query -W -f='${Package}\n' | sort >"$Q/prima.txt"
    apt-get install -y "$Q"/*.deb
    pacchetti=$(dpkg-query -W -f='${Package}\n' 'qvr-*' | sort)
    for p in $pacchetti; do dpkg -L "$p"; done | sort -u >"$Q/file.txt"

    useradd -m ufficio
    casa=/home/ufficio
    utente() { runuser -u ufficio -- env HOME=$casa DISPLAY=:7 XDG_RUNTIME_DIR= "$@"; }
    utente qvr-archivio crea $casa/archivio --singola 2 --totem
    for _ in 1 2 3; do utente qvr-archivio biglietto $casa/archivio 1 >/dev/null; done
    utente qvr-archivio stato $casa/archivio >/dev/null
    utente qvr-carico singola --stazioni 2 --chiamate 20 --cartella $casa/carico >/dev/null

    runuser -u ufficio -- Xvfb :7 -screen 0 1280x1024x24 -nolisten tcp &
    xvfb=$!
    trap 'pkill -P "$xvfb"; kill "$xvfb" 2>/dev/null || true' EXIT
    sleep 2
    # avvia NAME SECONDS COMMAND...: starts a program, checks it is still running after a few
    # seconds, takes a screenshot of the whole screen and ends it.
    avvia() {
        local nome=$1
        shift
        utente "$@" &
        local pid=$!
        sleep 4
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid" || true
            echo "ERRORE: $nome è terminato subito" >&2
            exit 1
        fi
        utente import -window root "$Q/schermate/$nome.png"
        pkill -TERM -P "$pid" || true
        wait "$pid" 2>/dev/null || true
        echo "avviato: $nome ($Q/schermate/$nome.png)"
    }
    # The client's first start creates its data folder (and, with no settings file yet, says so).
    [ ! -e $casa/.local/share/qvr-client ]
    avvia qvr-client-primo-avvio /usr/bin/qvr-client
    [ -d $casa/.local/share/qvr-client ] || { echo "ERRORE: cartella dei dati non creata" >&2; exit 1; }
    (cd $casa/.local/share/qvr-client && utente qvr-archivio percorsi $casa/archivio 1)
    avvia qvr-client /usr/bin/qvr-client
    [ -x /usr/bin/qvr-tabellone ] && avvia qvr-tabellone /usr/bin/qvr-tabellone --finestra --archivio $casa/archivio
    [ -x /usr/bin/qvr-totem ] && avvia qvr-totem /usr/bin/qvr-totem --finestra --archivio $casa/archivio
    [ -x /usr/bin/qvr-ufficio ] && avvia qvr-ufficio /usr/bin/qvr-ufficio --archivio $casa/archivio
    pkill -P "$xvfb" || true
    wait "$xvfb" 2>/dev/null || true
    trap - EXIT
    chmod -R a+r "$Q/schermate"

    # Recommends that came with the packages (shared-mime-info for GLib, say) go as well: the
    # system must end with exactly the packages it started with.
    # shellcheck disable=SC2086
    apt-get purge -y --autoremove -o APT::AutoRemove::RecommendsImportant=false $pacchetti
    dpkg-query -W -f='${Package}\n' | sort >"$Q/dopo.txt"
    if ! diff -u "$Q/prima.txt" "$Q/dopo.txt"; then
        echo "ERRORE: la rimozione lascia pacchetti diversi da quelli di partenza" >&2
        exit 1
    fi
    rimasti=0
    while read -r f; do
        # Folders of the base system (/usr, /usr/share/man/man1, ...) stay; files must go.
        if [ -e "$f" ] && [ ! -d "$f" ]; then echo "rimasto: $f" >&2; rimasti=1; fi
        if [ -d "$f" ] && [[ "$f" == *qvr* ]]; then echo "rimasto: $f" >&2; rimasti=1; fi
    done <"$Q/file.txt"
    [ "$rimasti" -eq 0 ] || { echo "ERRORE: file dei pacchetti rimasti" >&2; exit 1; }
    echo "Installazione, avvio e rimozione riusciti: $(echo $pacchetti)"
    exit 0
fi

cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/comune.sh
if [ "${1:-}" = --pronti ]; then
    installa_mancanti "${PACCHETTI_PACCHETTI[@]}"
else
    bash scripts/pacchetti.sh
fi
ls dist/*.deb >/dev/null
rm -rf dist/prova-installazione
mkdir -p dist/prova-installazione
mmdebstrap --variant=apt --format=null --include=xvfb,xauth,imagemagick,procps \
    --customize-hook='mkdir -p "$1/tmp/qvr"' \
    --customize-hook="copy-in $(echo dist/*.deb) scripts/prova-installazione.sh /tmp/qvr" \
    --customize-hook='chroot "$1" bash /tmp/qvr/prova-installazione.sh --dentro' \
    --customize-hook='sync-out /tmp/qvr/schermate dist/prova-installazione' \
    bookworm /dev/null http://deb.debian.org/debian
ls -l dist/prova-installazione
echo "Prova d'installazione superata"
