#!/usr/bin/env bash
# Starts the real kiosk many times in a row (300 unless a count is given) in a fresh
# station folder, offscreen, and stops each start with SIGTERM as soon as its start-up
# window is up (the metrics file says so). A start that aborts, crashes, does not stop
# cleanly or never reaches the window fails the run; the figures are printed either way.
# NX7_SOAK_BUILD: the build folder whose kiosk is soaked (default ./build).
set -euo pipefail
# The single-copy lock is machine-wide (/run/lock): a kiosk started by anything else on the
# machine would turn these starts away. Where a private mount namespace can be had, the
# soak runs in one with a /run/lock of its own.
if [ -z "${NX7_SOAK_PRIVATE_LOCK:-}" ] && unshare --mount --map-root-user true 2>/dev/null; then
  exec unshare --mount --map-root-user env NX7_SOAK_PRIVATE_LOCK=1 \
    sh -c 'mount -t tmpfs tmpfs /run/lock && exec bash "$0" "$@"' "$0" "$@"
fi
cd "$(dirname "$0")/.."
root="$PWD"
count="${1:-300}"
build="$root/${NX7_SOAK_BUILD:-build}"
[ -x "$build/app/nx7totem" ] && [ -x "$build/tools/nx7setup" ] || bash scripts/build.sh nx7totem nx7setup
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/tools/nx7setup" server "$work/server" --servizi 6 --risoluzione 0 >/dev/null
"$build/tools/nx7setup" postazione "$work/station" --server "$work/server" >/dev/null
export QT_QPA_PLATFORM=offscreen TMPDIR="$work" NX7TOTEM_METRICS_FILE="$work/metrics.prom"
unset NOTIFY_SOCKET WATCHDOG_USEC
cd "$work/station"
aborted=0 unreached=0 turnedAway=0 started=$SECONDS
for ((i = 1; i <= count; i++)); do
  rm -f "$NX7TOTEM_METRICS_FILE"
  "$build/app/nx7totem" 2>"$work/log" &
  pid=$!
  reached=0
  for ((tick = 0; tick < 1000; tick++)); do # 20 s at most
    if grep -qs 'window="startup_window"} 1' "$NX7TOTEM_METRICS_FILE"; then
      reached=1
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    grep -qs 'another copy of the kiosk is running' "$work/log" && break
    sleep 0.02
  done
  kill -TERM "$pid" 2>/dev/null || true
  rc=0
  wait "$pid" || rc=$?
  # The kiosk stops cleanly on SIGTERM: any other end is a fault.
  if [ "$rc" -ne 0 ] || grep -q 'terminate called' "$work/log"; then
    aborted=$((aborted + 1))
    echo "start $i: exit status $rc" >&2
    [ "$aborted" -le 3 ] && tail -n 3 "$work/log" >&2 || true
  elif grep -q 'another copy of the kiosk is running' "$work/log"; then
    # The single-copy lock is machine-wide: a kiosk of a test running beside this one
    # turned the start away. Not this start's fault: it is tried again, a bounded number
    # of times.
    turnedAway=$((turnedAway + 1))
    [ "$turnedAway" -le "$count" ] && i=$((i - 1))
    sleep 0.5
  elif [ "$reached" -eq 0 ]; then
    unreached=$((unreached + 1))
    echo "start $i: start-up window not reached" >&2
    [ "$unreached" -le 3 ] && tail -n 3 "$work/log" >&2 || true
  fi
done
echo "start soak: $count starts in $((SECONDS - started)) s, $aborted aborted," \
  "$unreached without start-up window ($turnedAway turned away by another copy, tried again)"
[ "$aborted" -eq 0 ] && [ "$unreached" -eq 0 ] && [ "$turnedAway" -le "$count" ]
