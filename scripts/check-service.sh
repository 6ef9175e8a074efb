#!/usr/bin/env bash
# Boots this machine's own system, with the installed nx7totem package, in a throw-away
# container (systemd-nspawn on a memory overlay of /, private network) and checks the
# kiosk service on a real boot sequence: enabled as the README says, started at boot, its
# kiosk's start-up window on screen, the kiosk killed and brought back after the pause,
# its log in the journal, nothing left running after a stop; given the package file, also
# its maintainer scripts under a running systemd (reinstall restarts the kiosk, removal
# stops it and keeps the station).
#   bash scripts/check-service.sh [build/nx7totem_<version>_amd64.deb]
# The container has no console: a drop-in puts Xvfb in place of Xorg on vt7 (the console,
# logind's device hand-over and the real Xorg are what this cannot reach).
# Run as root after installing the package; called by scripts/check-package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

title="NX7 Totem versione PRO"
fail() { echo "check-service: ERRORE: $*" >&2; exit 1; }
step() { echo "check-service: $*"; }

[ "$(id -u)" -eq 0 ] || fail "va eseguito da root"
[ -x /usr/bin/nx7totem ] || fail "pacchetto nx7totem non installato"
command -v systemd-nspawn >/dev/null || fail "systemd-nspawn mancante (pacchetto systemd-container)"

deb=${1:-}
[ -z "$deb" ] || deb=$(realpath "$deb")
work=$(mktemp -d /tmp/nx7-check-service.XXXXXX)
nspawn_pid=""
# nspawn's folder in /run gets a private tmpfs; the empty mount point is made if missing
# and taken away again.
made_nspawn_dir=""
[ -d /run/systemd/nspawn ] || { mkdir -p /run/systemd/nspawn; made_nspawn_dir=yes; }
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill -TERM "$nspawn_pid" 2>/dev/null || true # the container powers off
    for _ in $(seq 1 30); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$nspawn_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  [ -z "$made_nspawn_dir" ] || rmdir /run/systemd/nspawn 2>/dev/null || true
}
trap cleanup EXIT

# An installation server of its own, in place of the share the station names.
chmod 0711 "$work" # the service user reaches its server folder inside
mkdir -p "$work/server" "$work/dropin" "$work/overlay" "$work/deb"
[ -z "$deb" ] || cp "$deb" "$work/deb/nx7totem.deb"
chown nx7totem:nx7totem "$work/server"
runuser -u nx7totem -- /usr/bin/nx7setup server "$work/server/srv" --servizi 6
cat >"$work/dropin/container.conf" <<'CONF'
# No console in the container: Xvfb instead of Xorg on vt7.
[Service]
ExecStartPre=
ExecStart=
ExecStart=/usr/lib/nx7totem/nx7totem-x -- /usr/bin/Xvfb :7 -screen 0 1280x1024x24 -nolisten tcp -s 0 -dpms
StandardInput=null
TTYPath=
TTYReset=no
TTYVHangup=no
CONF

# Everything the container writes stays in memory, in a mount namespace of its own: the
# overlay of /, and nspawn's own folder in /run.
step "avvio del sistema nel contenitore"
(
  exec setsid unshare --mount --propagation private sh -c '
    set -e
    work=$1
    mount -t tmpfs tmpfs /run/systemd/nspawn
    mount -t tmpfs tmpfs "$work/overlay"
    mkdir "$work/overlay/upper" "$work/overlay/work" "$work/overlay/root"
    mount -t overlay overlay \
      -o "lowerdir=/,upperdir=$work/overlay/upper,workdir=$work/overlay/work" "$work/overlay/root"
    root=$work/overlay/root
    mkdir -p "$root/etc/systemd/system/nx7totem.service.d"
    cp "$work/dropin/container.conf" "$root/etc/systemd/system/nx7totem.service.d/"
    # A build image may forbid maintainer scripts to start or stop services; a kiosk box
    # does not.
    rm -f "$root/usr/sbin/policy-rc.d"
    # The README step that makes the kiosk start at boot.
    chroot "$root" systemctl enable nx7totem.service
    exec systemd-nspawn -D "$root" -M nx7check --boot --private-network --register=no \
      --keep-unit --link-journal=no --bind="$work/server/srv:/srv/nx7totem/server" \
      --bind-ro="$work/deb:/nx7deb"
  ' sh "$work"
) >"$work/console.log" 2>&1 </dev/null &
nspawn_pid=$!

leader=""
for _ in $(seq 1 40); do
  kill -0 "$nspawn_pid" 2>/dev/null || { cat "$work/console.log" >&2; fail "il contenitore non è partito"; }
  # nspawn's first children are short-lived helpers: wait for the container's systemd.
  leader=$(pgrep -P "$nspawn_pid" -x systemd | head -1) || true
  [ -n "$leader" ] && break
  sleep 0.5
done
[ -n "$leader" ] || fail "il contenitore non è partito"
in_container() { nsenter -t "$leader" -a "$@"; }

state=$(in_container timeout 90 systemctl is-system-running --wait 2>/dev/null) || true
step "avvio del sistema concluso: $state"
[ "$(in_container systemctl is-enabled nx7totem.service)" = enabled ] || fail "servizio non abilitato"

kiosk_window() {
  in_container sh -c 'XAUTHORITY=$(ls /run/nx7totem/nx7totem-xauth.* 2>/dev/null | head -1) \
    DISPLAY=:7 xdotool search --name "$1" 2>/dev/null | head -1' sh "^$title\$"
}
kiosk_pid() { in_container pgrep -u nx7totem -x nx7totem 2>/dev/null | head -1; }
wait_window() {
  for _ in $(seq 1 60); do
    [ -n "$(kiosk_window || true)" ] && return 0
    sleep 0.5
  done
  in_container systemctl status nx7totem.service --no-pager >&2 || true
  in_container journalctl -u nx7totem.service --no-pager -n 30 >&2 || true
  fail "la finestra \"$title\" non è comparsa"
}

wait_window
first=$(kiosk_pid)
[ -n "$first" ] || fail "processo nx7totem non trovato"
step "servizio partito all'avvio, finestra \"$title\" comparsa (nx7totem pid $first)"
[ "$(in_container systemctl is-active nx7totem.service)" = active ] || fail "servizio non attivo"

in_container kill -KILL "$first"
killed_at=$(date +%s%N)
second=""
for _ in $(seq 1 60); do
  second=$(kiosk_pid || true)
  [ -n "$second" ] && [ "$second" != "$first" ] && break
  second=""
  sleep 0.25
done
[ -n "$second" ] || fail "il totem non è ripartito dopo il kill"
back_ms=$((($(date +%s%N) - killed_at) / 1000000))
step "totem ucciso e ripartito dopo ${back_ms} ms (nx7totem pid $second)"
[ "$back_ms" -ge 4500 ] || fail "ripartito senza la pausa prevista"
wait_window

# By its identifier: the kiosk runs in the login session, whose scope the journal names.
in_container journalctl -t nx7totem --no-pager -o cat >"$work/journal.txt"
in_container journalctl -t nx7totem --no-pager -o verbose -n 1 >"$work/journal-verbose.txt"
grep -q 'nx7.startup start-up in /var/lib/nx7totem/postazione' "$work/journal.txt" ||
  fail "il registro del totem non arriva al journal"
grep -E '_SYSTEMD_(UNIT|USER_UNIT)=' "$work/journal-verbose.txt" | sed 's/^ */check-service: journal: /' 
[ "$(grep -c 'nx7.startup start-up in' "$work/journal.txt")" -ge 2 ] ||
  fail "il journal non mostra il secondo avvio"

kiosk_processes() {
  in_container ps -u nx7totem -o comm= | grep -x -e nx7totem -e xinit -e Xvfb || true
}
# Gone within seconds (the end of the login session runs after the stop itself).
wait_no_kiosk_processes() {
  for _ in $(seq 1 20); do
    left=$(kiosk_processes)
    [ -z "$left" ] && return 0
    sleep 0.5
  done
}

in_container systemctl stop nx7totem.service
wait_no_kiosk_processes
[ -z "$left" ] || fail "dopo lo stop restano processi: $(echo $left)"
step "stop del servizio: nessun processo rimasto"

if [ -n "$deb" ]; then
  in_container systemctl start nx7totem.service
  wait_window
  before=$(kiosk_pid)
  in_container env DEBIAN_FRONTEND=noninteractive dpkg -i /nx7deb/nx7totem.deb >/dev/null
  after=""
  for _ in $(seq 1 60); do
    after=$(kiosk_pid || true)
    [ -n "$after" ] && [ "$after" != "$before" ] && break
    after=""
    sleep 0.25
  done
  [ -n "$after" ] || fail "la reinstallazione non ha riavviato il totem"
  wait_window
  step "reinstallazione: totem riavviato (nx7totem pid $before -> $after)"
  in_container env DEBIAN_FRONTEND=noninteractive dpkg -r nx7totem >/dev/null
  [ "$(in_container systemctl is-active nx7totem.service || true)" != active ] ||
    fail "servizio ancora attivo dopo la rimozione"
  wait_no_kiosk_processes
  [ -z "$left" ] || fail "dopo la rimozione restano processi: $(echo $left)"
  in_container test -f /var/lib/nx7totem/postazione/TotemNX7PRO.mdb ||
    fail "la rimozione ha cancellato la postazione"
  step "rimozione sotto systemd: servizio fermato, postazione conservata"
fi

in_container systemctl poweroff || true
for _ in $(seq 1 60); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
step "servizio verificato su un avvio reale del sistema (contenitore)"
