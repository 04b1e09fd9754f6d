# Shared by the set-up scripts (sourced): the Debian 12 packages the project needs, and their
# installation with apt-get when some are missing.

PACCHETTI_QVR=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
    libqt6sql6-sqlite libgl-dev libsqlite3-dev sqlite3 libbenchmark-dev xvfb xauth x11-utils
    xdotool imagemagick clang libclang-rt-14-dev e2fsprogs procps time
    qt6-multimedia-dev libespeak-ng-dev espeak-ng-data sox openbox
    cups printer-driver-cups-pdf libcups2-dev poppler-utils
    postgresql libqt6sql6-psql libpq-dev libxcb1-dev
    libcpp-httplib-dev chromium libqrencode-dev qt6-charts-dev qt6-translations-l10n dbus-daemon at-spi2-core)

# What scripts/pacchetti.sh and scripts/prova-installazione.sh need besides: the package tools
# and checkers, and the maker of a clean Debian 12 system.
PACCHETTI_PACCHETTI=(dpkg-dev fakeroot lintian desktop-file-utils appstream mmdebstrap ccache)

# installa_mancanti [package...]: installs the packages given (all of the project's by default)
# that are not installed yet; does nothing when every one is there.
installa_mancanti() {
    local richiesti=("$@") mancanti=() p
    if [ ${#richiesti[@]} -eq 0 ]; then
        richiesti=("${PACCHETTI_QVR[@]}")
        # npm for the browser tests: Debian's package only where no npm is there, since a
        # Node.js from elsewhere brings its own and conflicts with Debian's.
        command -v npm >/dev/null || richiesti+=(npm)
    fi
    for p in "${richiesti[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            mancanti+=("$p")
        fi
    done
    [ ${#mancanti[@]} -eq 0 ] && return 0
    echo "Installazione dei pacchetti mancanti: ${mancanti[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${mancanti[@]}"
}
