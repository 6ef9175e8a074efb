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
# Each check is one function; a failed check is reported and the next one still runs, and
# the script fails at the end if any did. Only a container that does not boot stops it.
# The container has no console: a drop-in leaves out the switch to vt7 and the console as
# standard input, and the X server gets the dummy video driver (the console, logind's
# device hand-over and the keys DontVTSwitch and DontZap act on are what this cannot
# reach).
# Run as root after installing the package; called by scripts/check-package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

title="NX7 Totem versione PRO"
metrics=/var/lib/prometheus/node-exporter/nx7totem.prom
xorg_log=/var/lib/nx7totem/.local/share/xorg/Xorg.7.log
# Ends the run: without its container nothing else can be checked.
die() { echo "check-service: ERRORE: $*" >&2; exit 1; }
# Ends the check it is called in (each runs in a subshell of its own).
fail() { echo "check-service: ERRORE: $*" >&2; exit 1; }
step() { echo "check-service: $*"; }

[ "$(id -u)" -eq 0 ] || die "va eseguito da root"
[ -x /usr/bin/nx7totem ] || die "pacchetto nx7totem non installato"
command -v systemd-nspawn >/dev/null || die "systemd-nspawn mancante (pacchetto systemd-container)"
[ -f /usr/lib/xorg/modules/drivers/dummy_drv.so ] ||
  die "driver video dummy mancante (pacchetto xserver-xorg-video-dummy)"

deb=${1:-}
[ -z "$deb" ] || deb=$(realpath "$deb")

# --- Waiting and timing

# EPOCHREALTIME's separator follows the locale: only its digits are kept.
now_ms() { local us=${EPOCHREALTIME//[!0-9]/}; echo $((10#$us / 1000)); }
# Runs the command given every tenth of a second until it succeeds (status 0) or the
# seconds given have passed (status 1).
wait_for() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# --- The container

work=$(mktemp -d /tmp/nx7-check-service.XXXXXX)
nspawn_pid=""
# nspawn's folder in /run gets a private tmpfs; the empty mount point is made if missing
# and taken away again.
made_nspawn_dir=""
[ -d /run/systemd/nspawn ] || { mkdir -p /run/systemd/nspawn; made_nspawn_dir=yes; }
container_gone() { ! kill -0 "$nspawn_pid" 2>/dev/null; }
cleanup() {
  if [ -n "$nspawn_pid" ] && ! container_gone; then
    kill -TERM "$nspawn_pid" 2>/dev/null || true # the container powers off
    wait_for 15 container_gone || kill -KILL "$nspawn_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  [ -z "$made_nspawn_dir" ] || rmdir /run/systemd/nspawn 2>/dev/null || true
}
trap cleanup EXIT

# An installation server of its own, in place of the share the station names.
prepare_container() {
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
}

# Everything the container writes stays in memory, in a mount namespace of its own: the
# overlay of /, and nspawn's own folder in /run.
boot_container() {
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
      # default printer stay outside (masked as "systemctl mask" does), so the kiosk finds
      # no printer whatever the host has set up.
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
}

# nspawn's first children are short-lived helpers: the container's systemd is the leader.
leader=""
found_leader() {
  container_gone && return 0
  leader=$(pgrep -P "$nspawn_pid" -x systemd | head -1) || true
  [ -n "$leader" ]
}

prepare_container
step "avvio del sistema nel contenitore"
boot_container
wait_for 20 found_leader || true
[ -n "$leader" ] || { cat "$work/console.log" >&2; die "il contenitore non è partito"; }
in_container() { nsenter -t "$leader" -a "$@"; }
# Until its service manager answers on its bus, the state is empty.
state=""
booted() { state=$(in_container timeout 90 systemctl is-system-running --wait 2>/dev/null) || [ -n "$state" ]; }
wait_for 90 booted || true
step "avvio del sistema concluso: $state"

# --- What the checks look at

service() { in_container systemctl show -P "$1" nx7totem.service; }
kiosk_pid() { in_container pgrep -u nx7totem -x nx7totem 2>/dev/null | head -1; }
# xdotool on the kiosk's X server, with the kiosk's cookie.
xdo() {
  in_container sh -c 'XAUTHORITY=$(ls /run/nx7totem/nx7totem-xauth.* 2>/dev/null | head -1) \
    DISPLAY=:7 xdotool "$@" 2>/dev/null' sh "$@"
}
window_named() { xdo search --name "^$1\$" | head -1; }
window_shown() { [ -n "$(window_named "$title")" ]; }
# What the kiosk says to systemd, as `systemctl status` shows it.
status_line() { service StatusText; }
status_matches() { status_line | grep -q -- "$1"; }
metric_written() { in_container grep -qxF "$1" "$metrics" 2>/dev/null; }
kiosk_replaced() { local pid; pid=$(kiosk_pid) && [ -n "$pid" ] && [ "$pid" != "$1" ]; }
main_pid_replaced() { local main; main=$(service MainPID) && [ "$main" != 0 ] && [ "$main" != "$1" ]; }
watchdog_pinged_since() { [ "$(service WatchdogTimestampMonotonic)" != "$1" ]; }
kiosk_processes() {
  in_container ps -u nx7totem -o comm= | grep -x -e nx7totem -e nx7totem-x -e Xorg -e tail || true
}
no_kiosk_processes() { [ -z "$(kiosk_processes)" ]; }
# A time span of the unit in microseconds ("30s" as systemctl shows it).
unit_usec() { systemd-analyze timespan "$(service "$1")" | awk 'NR == 2 { print $2 }'; }

need_window() {
  wait_for 30 window_shown && return 0
  in_container systemctl status nx7totem.service --no-pager >&2 || true
  in_container journalctl -u nx7totem.service --no-pager -n 30 >&2 || true
  fail "la finestra \"$title\" non è comparsa"
}
need_status() {
  wait_for 10 status_matches "$1" || fail "riga di stato \"$(status_line)\": attesa \"$1\""
}
need_metric() {
  wait_for 10 metric_written "$1" ||
    fail "$metrics senza \"$1\": $(in_container cat "$metrics" 2>&1 | head -40)"
}
# Gone within seconds (the end of the login session runs after the stop itself).
need_no_kiosk_processes() {
  wait_for 10 no_kiosk_processes || fail "$1 restano processi: $(kiosk_processes | tr "\n" " ")"
}

# --- The checks, in the order of the kiosk's life

check_started_at_boot() {
  [ "$(in_container systemctl is-enabled nx7totem.service)" = enabled ] || fail "servizio non abilitato"
  need_window
  local pid
  pid=$(kiosk_pid)
  [ -n "$pid" ] || fail "processo nx7totem non trovato"
  step "servizio partito all'avvio, finestra \"$title\" comparsa (nx7totem pid $pid)"
  [ "$(in_container systemctl is-active nx7totem.service)" = active ] || fail "servizio non attivo"
  [ "$(service MainPID)" = "$pid" ] || fail "il processo principale del servizio non è il totem"
}

# The kiosk is the service's main process, in its sandbox, on the real Xorg.
check_sandbox() {
  local pid sandbox expected
  pid=$(service MainPID)
  in_container pgrep -u nx7totem -x Xorg >/dev/null || fail "Xorg non è in esecuzione come nx7totem"
  sandbox=$(in_container grep -E '^(NoNewPrivs|Seccomp|CapBnd):' "/proc/$pid/status" | tr -s '\t ' ' ')
  for expected in 'NoNewPrivs: 1' 'Seccomp: 2' 'CapBnd: 0000000000000000'; do
    grep -qx "$expected" <<<"$sandbox" || fail "totem fuori dalla sandbox: $(echo $sandbox)"
  done
  in_container nsenter -t "$pid" -m runuser -u nx7totem -- sh -c '! touch /etc/nx7check 2>/dev/null' ||
    fail "la sandbox lascia scrivere in /etc"
  in_container nsenter -t "$pid" -m runuser -u nx7totem -- \
    touch /var/lib/nx7totem/postazione/.nx7check /srv/nx7totem/server/.nx7check ||
    fail "postazione o cartella del server non scrivibili nella sandbox"
  step "sandbox: $(echo $sandbox), Xorg (driver dummy) in esecuzione"
}

# The X server took the kiosk's own configuration: no console switch, no zap.
check_xorg_configuration() {
  local option
  in_container grep -q 'Using config file: "/etc/X11/nx7totem/xorg.conf"' "$xorg_log" ||
    fail "Xorg non ha letto /etc/X11/nx7totem/xorg.conf"
  for option in DontVTSwitch DontZap; do
    in_container grep -q "(\*\*) Option \"$option\" \"true\"" "$xorg_log" || fail "Xorg senza $option"
  done
}

check_status_line() {
  wait_for 10 status_matches '^Finestra di avvio;' || true
  in_container systemctl status nx7totem.service --no-pager >"$work/status.txt" || true
  grep -q '^ *Status: "Finestra di avvio; .*; ticket emessi: 0"' "$work/status.txt" ||
    { cat "$work/status.txt" >&2; fail "systemctl status non mostra la riga di stato"; }
  step "systemctl status: $(grep '^ *Status:' "$work/status.txt" | sed 's/^ *//')"
}

# The metrics for the site's monitoring, written from inside the sandbox.
check_metrics() {
  need_metric 'nx7totem_window_shown{window="startup_window"} 1'
  metric_written "nx7totem_build_info{version=\"$(dpkg-query -W -f='${Version}' nx7totem)\"} 1" ||
    fail "$metrics senza la versione del pacchetto"
  step "metriche scritte in $metrics"
}

# The line follows the kiosk: "C&onferma" (Alt+O) opens the kiosk screen, whose poll finds
# no printer (the container has no print service), so the screen is out of service and a
# touch on the second service issues nothing; Escape goes back. A touch has no key: it is
# a click where the second of six services is drawn at 1280x1024.
check_kiosk_screen() {
  local screen
  need_window
  xdo key alt+o || fail "tasto Alt+O non inviato"
  need_status '^Schermo del totem con 6 servizi; Stampante non raggiungibile; server raggiungibile;'
  need_metric 'nx7totem_printer_state{state="unreachable"} 1'
  screen=$(window_named "Prendi il tuo Numero qui")
  [ -n "$screen" ] || fail "schermo del totem non trovato"
  xdo mousemove --window "$screen" 632 345 click 1 || fail "tocco non inviato"
  sleep 1 # time enough for a ticket that should not be issued
  need_status '^Schermo del totem con 6 servizi; Stampante non raggiungibile; server raggiungibile; ticket emessi: 0$'
  step "dopo un tocco: $(status_line)"
  xdo key Escape || fail "tasto Esc non inviato"
  need_status '^Finestra di avvio;'
}

check_restart_after_kill() {
  local first killed_at back_ms
  need_window
  first=$(kiosk_pid)
  [ -n "$first" ] || fail "processo nx7totem non trovato"
  in_container kill -KILL "$first"
  killed_at=$(now_ms)
  wait_for 15 kiosk_replaced "$first" || fail "il totem non è ripartito dopo il kill"
  back_ms=$(($(now_ms) - killed_at))
  step "totem ucciso e ripartito dopo ${back_ms} ms (nx7totem pid $(kiosk_pid))"
  [ "$back_ms" -ge 4500 ] || fail "ripartito senza la pausa prevista"
  need_window
}

# A frozen kiosk: no more pings, and the watchdog brings it back.
check_watchdog() {
  local watchdog_us restart_us limit_ms pinged frozen stopped_at restart_ms frozen_ms
  need_window
  watchdog_us=$(unit_usec WatchdogUSec)
  restart_us=$(unit_usec RestartUSec)
  case "$watchdog_us$restart_us" in
    '' | *[!0-9]*) fail "WatchdogUSec/RestartUSec illeggibili: $watchdog_us $restart_us" ;;
  esac
  limit_ms=$(((watchdog_us + restart_us) / 1000))
  # The pings reach systemd: the watchdog's time moves on within half its interval, then
  # the kiosk is stopped right after a ping, the latest the watchdog may then fire.
  pinged=$(service WatchdogTimestampMonotonic)
  wait_for $((watchdog_us / 2000000 + 3)) watchdog_pinged_since "$pinged" ||
    fail "nessun ping del watchdog ricevuto da systemd"
  frozen=$(kiosk_pid)
  [ -n "$frozen" ] || fail "processo nx7totem non trovato"
  in_container kill -STOP "$frozen"
  stopped_at=$(now_ms)
  step "totem fermato con SIGSTOP (pid $frozen), attesa del watchdog"
  # The service's new start: systemd forks a new main process.
  wait_for $((limit_ms / 1000 + 10)) main_pid_replaced "$frozen" ||
    fail "il watchdog non ha riavviato il totem bloccato"
  restart_ms=$(($(now_ms) - stopped_at))
  # systemd's timers may fire up to a quarter of a second late, each.
  if [ "$restart_ms" -gt $((limit_ms + 1000)) ]; then
    in_container journalctl -u nx7totem.service --no-pager -o short-precise -n 12 >&2 || true
    fail "riavviato dopo ${restart_ms} ms, oltre WatchdogSec + RestartSec (${limit_ms} ms)"
  fi
  need_window
  frozen_ms=$(($(now_ms) - stopped_at))
  in_container journalctl -u nx7totem.service --no-pager -o short-precise >"$work/unit-journal.txt"
  grep -q 'Watchdog timeout' "$work/unit-journal.txt" ||
    { tail -20 "$work/unit-journal.txt" >&2; fail "il journal non dice del watchdog"; }
  step "totem bloccato: servizio riavviato dopo ${restart_ms} ms (limite ${limit_ms} ms), finestra di nuovo sullo schermo dopo ${frozen_ms} ms (nx7totem pid $(kiosk_pid))"
  grep -E 'Watchdog timeout|Killing process|Main process exited|Scheduled restart' \
    "$work/unit-journal.txt" | tail -4 | sed 's/^[^ ]* [^ ]* \([^ ]*\) [^ ]* /\1 /; s/^/check-service: journal: /'
}

# By its identifier: the kiosk runs in the login session, whose scope the journal names.
check_journal() {
  in_container journalctl -t nx7totem --no-pager -o cat >"$work/journal.txt"
  in_container journalctl -t nx7totem --no-pager -o verbose -n 1 >"$work/journal-verbose.txt"
  grep -q 'nx7.startup start-up in /var/lib/nx7totem/postazione' "$work/journal.txt" ||
    fail "il registro del totem non arriva al journal"
  grep -E '_SYSTEMD_(UNIT|USER_UNIT)=' "$work/journal-verbose.txt" | sed 's/^ */check-service: journal: /'
  [ "$(grep -c 'nx7.startup start-up in' "$work/journal.txt")" -ge 2 ] ||
    fail "il journal non mostra il secondo avvio"
}

check_stop() {
  in_container systemctl stop nx7totem.service || fail "stop del servizio non riuscito"
  need_no_kiosk_processes "dopo lo stop"
  step "stop del servizio: nessun processo rimasto"
}

check_reinstall() {
  local before
  in_container systemctl start nx7totem.service || fail "avvio del servizio non riuscito"
  need_window
  before=$(kiosk_pid)
  [ -n "$before" ] || fail "processo nx7totem non trovato"
  in_container env DEBIAN_FRONTEND=noninteractive dpkg -i /nx7deb/nx7totem.deb >/dev/null ||
    fail "dpkg -i non riuscito"
  wait_for 15 kiosk_replaced "$before" || fail "la reinstallazione non ha riavviato il totem"
  need_window
  step "reinstallazione: totem riavviato (nx7totem pid $before -> $(kiosk_pid))"
}

check_removal() {
  in_container env DEBIAN_FRONTEND=noninteractive dpkg -r nx7totem >/dev/null || fail "dpkg -r non riuscito"
  [ "$(in_container systemctl is-active nx7totem.service || true)" != active ] ||
    fail "servizio ancora attivo dopo la rimozione"
  need_no_kiosk_processes "dopo la rimozione"
  in_container test -f /var/lib/nx7totem/postazione/TotemNX7PRO.mdb ||
    fail "la rimozione ha cancellato la postazione"
  step "rimozione sotto systemd: servizio fermato, postazione conservata"
}

# --- The run: every check, whatever the one before it found

failed=()
check() {
  if ! ("check_$1"); then
    failed+=("$1")
  fi
}
check started_at_boot
check sandbox
check xorg_configuration
check status_line
check metrics
check kiosk_screen
check restart_after_kill
check watchdog
check journal
check stop
if [ -n "$deb" ]; then
  check reinstall
  check removal
fi

in_container systemctl poweroff || true
wait_for 30 container_gone || true
[ ${#failed[@]} -eq 0 ] || die "${#failed[@]} controlli non superati: ${failed[*]}"
step "servizio verificato su un avvio reale del sistema (contenitore)"
