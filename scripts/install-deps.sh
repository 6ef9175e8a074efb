#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test the kiosk. Some are pulled
# in anyway (fontconfig by Qt's GUI library, the keymaps by Xvfb) but are named so that a
# minimal image never lacks them: without fonts text renders as empty boxes, without the
# keymaps Xvfb does not start, and the tests run in the Europe/Rome time zone. lintian and
# the X server with its dummy driver serve the package check (scripts/check-package.sh);
# prometheus brings promtool, which checks the kiosk's metrics file in the tests.
set -euo pipefail
packages=(
  build-essential cmake ninja-build dpkg-dev
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6printsupport6
  libgl-dev
  fontconfig fonts-dejavu-core fonts-liberation2
  tzdata
  sqlite3 poppler-utils xvfb xauth xkb-data x11-xkb-utils
  x11-utils x11-apps xdotool netpbm
  systemd-container
  qt6-translations-l10n
  postgresql libqt6sql6-psql libpq-dev odbc-postgresql unixodbc openssl
  libcups2-dev cups-daemon cups-client
  libsystemd-dev locales
  libespeak-ng-dev espeak-ng-data libasound2-dev
  lintian xserver-xorg-core xserver-xorg-video-dummy
  clang libclang-rt-dev
  prometheus
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # Through env: sudo drops the caller's environment, and tzdata would then ask questions.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
