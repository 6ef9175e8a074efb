#!/usr/bin/env bash
# Boots this machine's own system, with the installed nx7totem package, in a throw-away
# container (systemd-nspawn on a memory overlay of /, private network) and checks the
# kiosk service on a real boot sequence: enabled as the README says, started at boot in
# its sandbox with the real Xorg (rootless, dummy video driver), its kiosk's start-up
# window on screen and its status line in `systemctl status`; the kiosk killed and brought
# back after the pause; the kiosk frozen (SIGSTOP) and brought back by the watchdog within
# WatchdogSec plus RestartSec, the journal saying so; its log in the journal, nothing left
# running after a stop; given the package file, also its maintainer scripts under a
# running systemd (reinstall restarts the kiosk, removal stops it and keeps the station);
# its metrics file written from inside the sandbox. The host's print service stays out of
# the container, so the answer is the same on every machine.
#   bash scripts/check-service.sh [build/nx7totem_<version>_amd64.deb]
# The container has no console: a drop-in leaves out the switch to vt7 and the console as
# standard input, and the X server gets the dummy video driver (the console, logind's
# device hand-over and the keys DontVTSwitch and DontZap act on are what this cannot
# reach).
# Run as root after installing the package; called by scripts/check-package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

title="NX7 Totem versione PRO"
fail() { echo "check-service: ERRORE: $*" >&2; exit 1; }
step() { echo "check-service: $*"; }

[ "$(id -u)" -eq 0 ] || fail "va eseguito da root"
[ -x /usr/bin/nx7totem ] || fail "pacchetto nx7totem non installato"
command -v systemd-nspawn >/dev/null || fail "systemd-nspawn mancante (pacchetto systemd-container)"
[ -f /usr/lib/xorg/modules/drivers/dummy_drv.so ] ||
  fail "driver video dummy mancante (pacchetto xserver-xorg-video-dummy)"

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
# No console in the container: no switch to vt7, no console as standard input. The unit's
# own command line starts the real Xorg.
[Service]
ExecStartPre=
StandardInput=null
TTYPath=
TTYReset=no
TTYVHangup=no
CONF
# No graphics card either: the dummy video driver, which needs no console.
cat >"$work/dropin/dummy.conf" <<'CONF'
Section "Device"
    Identifier "nx7check-dummy"
    Driver "dummy"
    VideoRam 32768
EndSection
Section "Screen"
    Identifier "nx7check-screen"
    Device "nx7check-dummy"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1280x1024"
    EndSubSection
EndSection
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
    mkdir -p "$root/etc/X11/xorg.conf.d"
    cp "$work/dropin/dummy.conf" "$root/etc/X11/xorg.conf.d/90-nx7check-dummy.conf"
    # A build image may forbid maintainer scripts to start or stop services; a kiosk box
    # does not.
    rm -f "$root/usr/sbin/policy-rc.d"
    # The same answer on every machine: the host'"'"'s print service, its queues and its
    # default printer stay outside (masked as "systemctl mask" does), so the kiosk finds no
    # printer whatever the host has set up.
    for unit in cups.service cups.socket cups.path cups-browsed.service; do
      ln -sf /dev/null "$root/etc/systemd/system/$unit"
    done
    rm -f "$root/etc/cups/client.conf"
    # The node exporter'"'"'s text-file folder, as its package makes it, writable by the kiosk.
    mkdir -p "$root/var/lib/prometheus/node-exporter"
    chroot "$root" chown nx7totem "/var/lib/prometheus/node-exporter"
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

# The kiosk is the service's main process, in its sandbox, on the real Xorg.
[ "$(in_container systemctl show -P MainPID nx7totem.service)" = "$first" ] ||
  fail "il processo principale del servizio non è il totem"
in_container pgrep -u nx7totem -x Xorg >/dev/null || fail "Xorg non è in esecuzione come nx7totem"
sandbox=$(in_container grep -E '^(NoNewPrivs|Seccomp|CapBnd):' "/proc/$first/status" | tr -s '\t ' ' ')
for expected in 'NoNewPrivs: 1' 'Seccomp: 2' 'CapBnd: 0000000000000000'; do
  grep -qx "$expected" <<<"$sandbox" || fail "totem fuori dalla sandbox: $(echo $sandbox)"
done
in_container nsenter -t "$first" -m runuser -u nx7totem -- sh -c '! touch /etc/nx7check 2>/dev/null' ||
  fail "la sandbox lascia scrivere in /etc"
in_container nsenter -t "$first" -m runuser -u nx7totem -- \
  touch /var/lib/nx7totem/postazione/.nx7check /srv/nx7totem/server/.nx7check ||
  fail "postazione o cartella del server non scrivibili nella sandbox"
step "sandbox: $(echo $sandbox), Xorg (driver dummy) in esecuzione"
# The X server took the kiosk's own configuration: no console switch, no zap.
xlog=/var/lib/nx7totem/.local/share/xorg/Xorg.7.log
in_container grep -q 'Using config file: "/etc/X11/nx7totem/xorg.conf"' "$xlog" ||
  fail "Xorg non ha letto /etc/X11/nx7totem/xorg.conf"
for option in DontVTSwitch DontZap; do
  in_container grep -q "(\*\*) Option \"$option\" \"true\"" "$xlog" || fail "Xorg senza $option"
done

# What the kiosk says to systemd, as `systemctl status` shows it.
status_line() { in_container systemctl show -P StatusText nx7totem.service; }
for _ in $(seq 1 20); do
  case "$(status_line)" in "Finestra di avvio;"*) break ;; esac
  sleep 0.5
done
in_container systemctl status nx7totem.service --no-pager >"$work/status.txt" || true
grep -q '^ *Status: "Finestra di avvio; .*; ticket emessi: 0"' "$work/status.txt" ||
  { cat "$work/status.txt" >&2; fail "systemctl status non mostra la riga di stato"; }
step "systemctl status: $(grep '^ *Status:' "$work/status.txt" | sed 's/^ *//')"

# The metrics for the site's monitoring, written from inside the sandbox.
metrics=/var/lib/prometheus/node-exporter/nx7totem.prom
metric() { in_container grep -qxF "$1" "$metrics" 2>/dev/null; }
wait_metric() {
  for _ in $(seq 1 40); do
    metric "$1" && return 0
    sleep 0.25
  done
  fail "$metrics senza \"$1\": $(in_container cat "$metrics" 2>&1 | head -40)"
}
wait_metric 'nx7totem_window_shown{window="startup_window"} 1'
metric "nx7totem_build_info{version=\"$(dpkg-query -W -f='${Version}' nx7totem)\"} 1" ||
  fail "$metrics senza la versione del pacchetto"
step "metriche scritte in $metrics"

# The line follows the kiosk: "C&onferma" opens the kiosk screen, whose poll finds no
# printer (the container has no print service), so the screen is out of service and a
# touch on the second service issues nothing; Escape goes back.
xdo() {
  in_container sh -c 'XAUTHORITY=$(ls /run/nx7totem/nx7totem-xauth.* | head -1) DISPLAY=:7 \
    xdotool "$@"' sh "$@"
}
wait_status() {
  for _ in $(seq 1 40); do
    status_line | grep -q -- "$1" && return 0
    sleep 0.25
  done
  fail "riga di stato \"$(status_line)\": attesa \"$1\""
}
click_in() { # window title, x, y inside the window
  local window
  window=$(xdo search --name "^$1\$" | head -1)
  [ -n "$window" ] || fail "finestra \"$1\" non trovata (schermo $(xdo getdisplaygeometry))"
  xdo mousemove --window "$window" "$2" "$3" click 1
}
click_in "$title" 220 254
wait_status '^Schermo del totem con 6 servizi; Stampante non raggiungibile; server raggiungibile;'
wait_metric 'nx7totem_printer_state{state="unreachable"} 1'
click_in "Prendi il tuo Numero qui" 632 345
sleep 1
wait_status '^Schermo del totem con 6 servizi; Stampante non raggiungibile; server raggiungibile; ticket emessi: 0$'
step "dopo un tocco: $(status_line)"
xdo key Escape
wait_status '^Finestra di avvio;'

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

# A frozen kiosk: no more pings, and the watchdog brings it back.
# A time span of the unit in microseconds ("30s" as systemctl shows it).
usec() { systemd-analyze timespan "$(in_container systemctl show -P "$1" nx7totem.service)" | awk 'NR == 2 { print $2 }'; }
watchdog_us=$(usec WatchdogUSec)
restart_us=$(usec RestartUSec)
case "$watchdog_us$restart_us" in *[!0-9]*) fail "WatchdogUSec/RestartUSec illeggibili: $watchdog_us $restart_us" ;; esac
limit_ms=$(((watchdog_us + restart_us) / 1000))
# The pings reach systemd: the watchdog's time moves on within half its interval, then the
# kiosk is stopped right after a ping, the latest the watchdog may then fire.
mono() { in_container systemctl show -P WatchdogTimestampMonotonic nx7totem.service; }
pinged=$(mono)
for _ in $(seq 1 $((watchdog_us / 2 / 100000 + 30))); do
  [ "$(mono)" != "$pinged" ] && break
  sleep 0.1
done
[ "$(mono)" != "$pinged" ] || fail "nessun ping del watchdog ricevuto da systemd"
frozen=$(kiosk_pid)
in_container kill -STOP "$frozen"
stopped_at=$(date +%s%N)
step "totem fermato con SIGSTOP (pid $frozen), attesa del watchdog"
# The service's new start: systemd forks a new main process.
restarted=""
for _ in $(seq 1 $((limit_ms / 100 + 100))); do
  main=$(in_container systemctl show -P MainPID nx7totem.service)
  [ "$main" != 0 ] && [ "$main" != "$frozen" ] && { restarted=yes; break; }
  sleep 0.1
done
[ -n "$restarted" ] || fail "il watchdog non ha riavviato il totem bloccato"
restart_ms=$((($(date +%s%N) - stopped_at) / 1000000))
# systemd's timers may fire up to a quarter of a second late, each.
if [ "$restart_ms" -gt $((limit_ms + 1000)) ]; then
  in_container journalctl -u nx7totem.service --no-pager -o short-precise -n 12 >&2 || true
  fail "riavviato dopo ${restart_ms} ms, oltre WatchdogSec + RestartSec (${limit_ms} ms)"
fi
wait_window
third=$(kiosk_pid)
frozen_ms=$((($(date +%s%N) - stopped_at) / 1000000))
in_container journalctl -u nx7totem.service --no-pager -o short-precise >"$work/unit-journal.txt"
grep -q 'Watchdog timeout' "$work/unit-journal.txt" ||
  { tail -20 "$work/unit-journal.txt" >&2; fail "il journal non dice del watchdog"; }
step "totem bloccato: servizio riavviato dopo ${restart_ms} ms (limite ${limit_ms} ms), finestra di nuovo sullo schermo dopo ${frozen_ms} ms (nx7totem pid $third)"
grep -E 'Watchdog timeout|Killing process|Main process exited|Scheduled restart' \
  "$work/unit-journal.txt" | tail -4 | sed 's/^[^ ]* [^ ]* \([^ ]*\) [^ ]* /\1 /; s/^/check-service: journal: /'

# By its identifier: the kiosk runs in the login session, whose scope the journal names.
in_container journalctl -t nx7totem --no-pager -o cat >"$work/journal.txt"
in_container journalctl -t nx7totem --no-pager -o verbose -n 1 >"$work/journal-verbose.txt"
grep -q 'nx7.startup start-up in /var/lib/nx7totem/postazione' "$work/journal.txt" ||
  fail "il registro del totem non arriva al journal"
grep -E '_SYSTEMD_(UNIT|USER_UNIT)=' "$work/journal-verbose.txt" | sed 's/^ */check-service: journal: /' 
[ "$(grep -c 'nx7.startup start-up in' "$work/journal.txt")" -ge 2 ] ||
  fail "il journal non mostra il secondo avvio"

kiosk_processes() {
  in_container ps -u nx7totem -o comm= | grep -x -e nx7totem -e nx7totem-x -e Xorg -e tail || true
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
