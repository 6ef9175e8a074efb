#!/usr/bin/env bash
# Checks the Debian package as an installer would meet it (as root, on a test machine):
# builds it, installs it with apt, checks the user and the station made at installation,
# starts the installed kiosk the way its service does (its own X server, here a private
# Xvfb, the kiosk as only client) on a station made by the installed nx7setup, waits for
# the start-up window, kills the kiosk and sees its X server end with it, verifies the
# unit file and its sandbox's score, runs lintian on the package, boots the system with the package in a container to check the service
# (scripts/check-service.sh), then removes and purges the package.
# Not for a kiosk in service: it removes and purges the package, station included.
set -euo pipefail
cd "$(dirname "$0")/.."

title="NX7 Totem versione PRO"
unit=/usr/lib/systemd/system/nx7totem.service
fail() { echo "check-package: ERRORE: $*" >&2; exit 1; }
step() { echo "check-package: $*"; }

[ "$(id -u)" -eq 0 ] || fail "va eseguito da root (installa e rimuove il pacchetto)"
if systemctl is-enabled nx7totem.service >/dev/null 2>&1; then
  fail "nx7totem.service è abilitato: questa macchina è un totem in servizio, controllo rifiutato"
fi

bash scripts/build-package.sh >/dev/null
deb=$(ls "$PWD"/build/nx7totem_*_amd64.deb)
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${Status}' nx7totem 2>/dev/null | grep -q 'install ok installed'; then
  apt-get remove -y -qq nx7totem >/dev/null
fi
# Depends alone must bring everything: recommended packages are left out on purpose.
step "apt install $(basename "$deb")"
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null

for f in /usr/bin/nx7totem /usr/bin/nx7setup /usr/lib/nx7totem/nx7totem-x \
  /usr/lib/nx7totem/nx7totem-client /usr/lib/nx7totem/nx7totem-locale; do
  [ -x "$f" ] || fail "$f non installato"
done
for f in /usr/share/nx7totem/Ticket.lbl /usr/share/nx7totem/schema/local.sql \
  /usr/share/nx7totem/schema/server.sql /usr/share/nx7totem/schema/server-postgresql.sql \
  /usr/share/doc/nx7totem/report/LAYOUT.md /usr/share/doc/nx7totem/README.md \
  /usr/share/man/man1/nx7totem.1.gz /usr/share/man/man1/nx7setup.1.gz \
  /usr/share/doc/nx7totem/changelog.gz /usr/share/doc/nx7totem/copyright \
  /etc/X11/nx7totem/xorg.conf "$unit"; do
  [ -f "$f" ] || fail "$f non installato"
done
# Every note and picture the README links to, where its links find them.
for f in docs/*.md docs/*.png docs/screens/*.png; do
  [ -e "$f" ] || continue
  [ -f "/usr/share/doc/nx7totem/$f" ] || fail "$f non installato"
done
getent passwd nx7totem >/dev/null || fail "utente nx7totem non creato"
station=/var/lib/nx7totem/postazione
for f in TotemNX7PRO.mdb percorsiT.txt Ticket.lbl; do
  [ "$(stat -c %U "$station/$f" 2>/dev/null)" = nx7totem ] ||
    fail "$station/$f mancante o non dell'utente nx7totem"
done

grep -q 'DontZap' /etc/X11/nx7totem/xorg.conf || fail "xorg.conf senza DontZap"
dpkg-query --control-show nx7totem conffiles | grep -qx /etc/X11/nx7totem/xorg.conf ||
  fail "/etc/X11/nx7totem/xorg.conf non è un conffile"
# The installation generates the kiosk's locale when the machine lacks it.
locale -a | grep -qix 'it_IT\.utf-\{0,1\}8' || fail "localizzazione it_IT.UTF-8 non generata"
[ -d /srv/nx7totem ] || fail "/srv/nx7totem non creata (cartella dei server scrivibile)"

step "systemd-analyze verify $unit"
verify=$(cd / && systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"
# The sandbox: exposure 3.0 or less (systemd-analyze counts in tenths).
exposure=$(cd / && systemd-analyze security --no-pager --offline=yes --threshold=30 "$unit" 2>&1 |
  tail -1) || fail "sandbox insufficiente: $exposure"
step "systemd-analyze security: ${exposure#→ }"

# What lintian still says is shown; an error fails the check.
step "lintian $(basename "$deb")"
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$lintian_out" ] || printf '%s\n' "$lintian_out" | sed 's/^/check-package: lintian: /'
if printf '%s\n' "$lintian_out" | grep -q '^E: '; then
  fail "lintian segnala errori"
fi

# A station and a server of its own, made by the installed nx7setup as the service's user.
work=$(mktemp -d /tmp/nx7-check-package.XXXXXX)
launcher_pid=""
cleanup() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill -TERM -- "-$launcher_pid" 2>/dev/null || true
    sleep 1
    kill -KILL -- "-$launcher_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
chown nx7totem:nx7totem "$work"
as_kiosk() { runuser -u nx7totem -- "$@"; }
as_kiosk /usr/bin/nx7setup server "$work/server" --servizi 6
as_kiosk /usr/bin/nx7setup postazione "$work/postazione" --server "$work/server"
as_kiosk mkdir -m 0700 "$work/run"

display=70
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
  display=$((display + 1))
done

# The service's command with Xvfb in place of Xorg, the environment systemd gives it, in
# a session of its own so that cleanup reaches every process. The kiosk's machine-wide
# lock goes to a private /run/lock, so that a kiosk already running here does not turn
# this one into a "second copy".
step "avvio del totem installato su Xvfb :$display"
(
  cd "$work/postazione"
  exec setsid unshare --mount --propagation private sh -c '
    mount -t tmpfs -o mode=1777 tmpfs /run/lock || exit 99
    exec "$@"' sh \
    runuser -u nx7totem -- env -i PATH=/usr/bin:/bin HOME=/var/lib/nx7totem \
    LANG=it_IT.UTF-8 RUNTIME_DIRECTORY="$work/run" XDG_RUNTIME_DIR="$work/run" \
    /usr/lib/nx7totem/nx7totem-x -- /usr/bin/Xvfb ":$display" -screen 0 1280x1024x24 \
    -nolisten tcp -s 0 -dpms
) >"$work/kiosk.log" 2>&1 &
launcher_pid=$!

export DISPLAY=":$display"
window=""
for _ in $(seq 1 60); do
  kill -0 "$launcher_pid" 2>/dev/null || { cat "$work/kiosk.log" >&2; fail "il totem è terminato"; }
  XAUTHORITY=$(ls "$work"/run/nx7totem-xauth.* 2>/dev/null | head -1) || true
  export XAUTHORITY
  if [ -n "$XAUTHORITY" ]; then
    window=$(xdotool search --name "^$title\$" 2>/dev/null | head -1) || true
    [ -n "$window" ] && break
  fi
  sleep 0.5
done
[ -n "$window" ] || { cat "$work/kiosk.log" >&2; fail "la finestra \"$title\" non è comparsa"; }
step "finestra \"$title\" comparsa (0x$(printf %x "$window"))"

kiosk=$(pgrep -u nx7totem -x nx7totem -s "$launcher_pid" | head -1) || fail "processo nx7totem non trovato"
[ "$(readlink "/proc/$kiosk/exe")" = /usr/bin/nx7totem ] || fail "non è /usr/bin/nx7totem"
[ "$(readlink "/proc/$kiosk/cwd")" = "$work/postazione" ] || fail "non lavora nella postazione"
xset q >"$work/xset.txt"
grep -q 'timeout:  0' "$work/xset.txt" || fail "salvaschermo attivo: $(cat "$work/xset.txt")"
# Xvfb has no power saving at all; a server with DPMS must show it switched off.
grep -q -e 'DPMS is Disabled' -e 'does not have the DPMS' "$work/xset.txt" ||
  fail "risparmio energetico attivo"
if [ -n "${NX7_CHECK_SCREENSHOT:-}" ]; then
  xwd -root | xwdtopnm 2>/dev/null | pnmtopng >"$NX7_CHECK_SCREENSHOT"
fi
# A client without the cookie is refused: the X server is the kiosk's alone.
if XAUTHORITY=/dev/null xdotool search --name "^$title\$" >/dev/null 2>&1; then
  fail "il server X accetta client senza il cookie"
fi

# The end of the kiosk ends its X server and the launcher: the service then starts anew.
step "kill del totem (pid $kiosk)"
kill -KILL "$kiosk"
for _ in $(seq 1 20); do
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$launcher_pid" 2>/dev/null && fail "il lanciatore è rimasto dopo la fine del totem"
for _ in $(seq 1 20); do
  [ -e "/tmp/.X11-unix/X$display" ] || break
  sleep 0.5
done
[ ! -e "/tmp/.X11-unix/X$display" ] || fail "il server X è rimasto dopo la fine del totem"
launcher_pid=""

# The unit itself on a real boot sequence, in a container. Its failure is told at the end:
# the package is removed and purged all the same.
service_checked=yes
bash scripts/check-service.sh "$deb" || service_checked=""

step "rimozione del pacchetto"
apt-get remove -y -qq nx7totem >/dev/null
[ ! -e /usr/bin/nx7totem ] || fail "/usr/bin/nx7totem rimasto dopo la rimozione"
[ -f "$station/TotemNX7PRO.mdb" ] || fail "la rimozione ha cancellato la postazione"
apt-get purge -y -qq nx7totem >/dev/null
[ ! -e /var/lib/nx7totem ] || fail "/var/lib/nx7totem rimasto dopo la purga"
[ -n "$service_checked" ] || fail "controllo del servizio non superato (check-service)"
step "pacchetto verificato"
