#!/usr/bin/env bash
# Installs what is missing, builds, creates a demo installation in ./demo (a server folder
# and a station folder, SQLite, tickets written as PDF files) and starts the kiosk in the
# station folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The weekday and the dialogs in Italian: the locale is generated when missing (a fresh
# machine has none but C and POSIX).
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO sh packaging/nx7totem-locale
bash scripts/build.sh nx7totem nx7setup
root="$PWD"
demo="$root/demo"
if [ ! -d "$demo/server" ]; then
  "$root/build/tools/nx7setup" server "$demo/server" --servizi 6 --risoluzione 0
fi
if [ ! -d "$demo/station" ]; then
  "$root/build/tools/nx7setup" postazione "$demo/station" --server "$demo/server"
fi
if [ -f "$root/report/Ticket.lbl" ] && [ ! -f "$demo/station/Ticket.lbl" ]; then
  mkdir -p "$demo/tickets"
  # The demo station has no printer: its layout writes each ticket to a PDF file.
  sed -e "s|^output .*|output pdf $demo/tickets/ticket.pdf|" "$root/report/Ticket.lbl" \
    > "$demo/station/Ticket.lbl"
fi
cd "$demo/station"
# The kiosk writes the weekday in the system's language: Italian, like its messages.
case "${LC_ALL:-${LC_TIME:-${LANG:-}}}" in
  it_*) ;;
  *) unset LC_ALL; export LC_TIME=it_IT.UTF-8 LANG=it_IT.UTF-8 ;;
esac
# Without a display the kiosk gets an X server of its own, its screen kept in a file so
# that it can be looked at (see README, "Try it"); the server ends with the kiosk.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # The first free display from :99 down, unless one is asked for: the kiosk must never
  # land on another program's X server.
  display="${NX7_DEMO_DISPLAY:-}"
  if [ -z "$display" ]; then
    for n in $(seq 99 -1 70); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
    done
  fi
  mkdir -p "$demo/screen"
  echo "Nessun display: avvio sotto Xvfb (:$display), schermo in $demo/screen/Xvfb_screen0." >&2
  Xvfb ":$display" -screen 0 1280x1024x24 -fbdir "$demo/screen" >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null || true' EXIT
  sleep 1
  kill -0 "$xvfb" 2>/dev/null || { echo "Xvfb non è partito su :$display (display occupato?)." >&2; exit 1; }
  export DISPLAY=":$display"
fi
# The keypad's voice into a WAV file instead of the speakers (a machine without sound):
# NX7_DEMO_VOICE_WAV=/tmp/voce.wav. ALSA reads the user's .asoundrc from $HOME.
if [ -n "${NX7_DEMO_VOICE_WAV:-}" ]; then
  mkdir -p "$demo/home"
  cat > "$demo/home/.asoundrc" <<ALSA
pcm.!default { type file; slave.pcm "null"; file "$NX7_DEMO_VOICE_WAV"; format "wav" }
ALSA
  export HOME="$demo/home"
fi
"$root/build/app/nx7totem"
