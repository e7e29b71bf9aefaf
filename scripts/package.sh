#!/usr/bin/env bash
# Builds the Debian package build-package/vantrel_<version>_<arch>.deb from a Release tree
# (-O2, as Debian builds its packages) of just what is installed, then checks it: lintian (no
# errors), the desktop entry and AppStream metadata, the service unit (systemd-analyze verify),
# and the unpacked tree (dpkg -x) running
# `vantrel --version` with the build tree moved out of reach.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vantrel_ensure_packages "${VANTREL_PACKAGE_PACKAGES[@]}"

dir=build-package
rm -f "$dir"/vantrel_*.deb
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_SANITIZE= \
      -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVANTREL_BUILD_BENCH=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$dir" -j "$(nproc)" --target vantrel vantrel-sim vantrel_packaging_files
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/vantrel_*.deb)
echo "== package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Installed-Size

echo "== lintian"
lintian --fail-on error "$deb"

scratch=$(mktemp -d)
away="$dir.away-$$"
restore() {
    if [ -d "$away" ]; then mv "$away" "$dir"; fi
    rm -rf "$scratch"
}
trap restore EXIT
dpkg -x "$deb" "$scratch"
echo "== desktop entry and AppStream metadata"
desktop-file-validate "$scratch/usr/share/applications/vantrel.desktop"
appstreamcli validate --no-net "$scratch"/usr/share/metainfo/*.xml

echo "== service unit"
# Verified against the unpacked program and manual page: the unit's ExecStart and
# Documentation must resolve, which they do only where the package put them.
unit="$scratch/vantrel.service"
sed "s|/usr/bin/vantrel|$scratch/usr/bin/vantrel|" "$scratch/usr/lib/systemd/system/vantrel.service" >"$unit"
# A setting it cannot parse is only a warning to systemd-analyze (status 0): any output fails.
if ! problems=$(MANPATH="$scratch/usr/share/man" systemd-analyze verify "$unit" 2>&1) ||
   [ -n "$problems" ]; then
    echo "$problems" >&2
    echo "systemd-analyze verify finds fault with vantrel.service (above)" >&2
    exit 1
fi

echo "== the unpacked tree, build tree out of reach"
mv "$dir" "$away"
bin="$scratch/usr/bin"
libs=$(env -i PATH=/usr/bin:/bin ldd "$bin/vantrel")
if grep -E "not found|$PWD" <<<"$libs"; then
    echo "unpacked vantrel loads libraries it should not (above)" >&2
    exit 1
fi
grep -F "$scratch/" <<<"$libs"
version=$(env -i PATH=/usr/bin:/bin "$bin/vantrel" --version)
expected="vantrel $(dpkg-deb --field "$(ls "$away"/vantrel_*.deb)" Version)"
echo "$version"
if [ "$version" != "$expected" ]; then
    echo "unpacked vantrel --version printed '$version', expected '$expected'" >&2
    exit 1
fi
env -i PATH=/usr/bin:/bin "$bin/vantrel-sim" --help > /dev/null
# The web console's page where the program looks for it (../share/vantrel/web).
test -f "$scratch/usr/share/vantrel/web/index.html" ||
    { echo "the package lacks the web console (usr/share/vantrel/web)" >&2; exit 1; }
echo "== package OK: $deb"
