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
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Nessun display: avvio sotto Xvfb (:99)." >&2
  Xvfb :99 -screen 0 1280x1024x24 >/dev/null 2>&1 &
  export DISPLAY=:99
  sleep 1
fi
exec "$root/build/app/nx7totem"
