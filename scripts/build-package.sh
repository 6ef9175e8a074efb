#!/usr/bin/env bash
# Builds the Debian package of the kiosk: build/nx7totem_<version>_amd64.deb, installed
# under /usr. Install it with: sudo apt install ./build/nx7totem_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
# The install step must not build every test first: the two programs are built here.
# The package's maintainer ("Name <address>"): NX7_MAINTAINER, else git's user of this
# copy, else a placeholder address that nobody reads.
maintainer="${NX7_MAINTAINER:-}"
if [ -z "$maintainer" ] && name=$(git config user.name 2>/dev/null) &&
  mail=$(git config user.email 2>/dev/null); then
  maintainer="$name <$mail>"
fi
if [ -z "$maintainer" ]; then
  maintainer="Sviluppo NX7 Totem <nx7totem@example.com>"
  echo "build-package: NX7_MAINTAINER non impostato, manutentore: $maintainer" >&2
fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  "-DNX7_MAINTAINER=$maintainer" >/dev/null
cmake --build build --parallel "$(nproc)" --target nx7totem nx7setup
rm -f build/nx7totem_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/nx7totem_*.deb)
dpkg-deb --field "$deb" Package Version Architecture Maintainer Depends
echo "$deb"
