#!/usr/bin/env bash
# Builds the Debian 12 packages into dist/ (CPack's DEB generator) and checks them:
# lintian (no error allowed), desktop-file-validate on the menu entries, appstreamcli on the
# metainfo. One package per kind of PC: qvr-client, qvr-tabellone, qvr-totem, qvr-ufficio (when
# built) and qvr-strumenti and qvr-server. The build uses Debian's hardening flags (dpkg-buildflags) in
# build-pacchetti/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/comune.sh
installa_mancanti
installa_mancanti "${PACCHETTI_PACCHETTI[@]}"

COSTRUZIONE=build-pacchetti
lanciatore=()
command -v ccache >/dev/null && lanciatore=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$COSTRUZIONE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQVR_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${lanciatore[@]}" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
# Only what the packages hold: the test programs are not built here.
obiettivi=(qvr-client qvr-archivio qvr-carico qvr-server)
# (The list is read whole first: grep -q stopping early would break the pipe under pipefail.)
bersagli=$(ninja -C "$COSTRUZIONE" -t targets all)
for facoltativo in qvr-tabellone qvr-totem qvr-ufficio; do
    if grep -q "^$facoltativo:" <<<"$bersagli"; then
        obiettivi+=("$facoltativo")
    fi
done
cmake --build "$COSTRUZIONE" --target "${obiettivi[@]}"

rm -rf "$COSTRUZIONE/dist" dist
(cd "$COSTRUZIONE" && cpack -G DEB)
mkdir -p dist
mv "$COSTRUZIONE"/dist/*.deb dist/

desktop-file-validate packaging/desktop/*.desktop
appstreamcli validate --no-net packaging/metainfo/*.xml
esito=0
for deb in dist/*.deb; do
    echo "== lintian $deb"
    lintian "$deb" | tee "$deb.lintian" || true
    if grep -q '^E: ' "$deb.lintian"; then esito=1; fi
    rm -f "$deb.lintian"
done
ls -l dist/
[ "$esito" -eq 0 ] || { echo "lintian: errori nei pacchetti" >&2; exit 1; }
echo "Pacchetti pronti in dist/"
