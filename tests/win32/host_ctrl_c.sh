#!/bin/sh
# Ctrl-C during a -Jobs run, pressed on a console: Wine gives a Win32 program a console when it runs on a
# terminal, so the check runs inside script(1). See console_ctrl_c.cpp.
#   host_ctrl_c.sh <emulator> <console_ctrl_c.exe> <zelvane.exe> <argv_printer.exe>
set -eu
if ! command -v script >/dev/null 2>&1; then
  echo "script(1) is not installed: no terminal to press Ctrl-C on"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Host paths as a Win32 program types them: Wine's Z: drive is the host's root.
win() { printf 'Z:%s' "$1" | tr / '\\'; }
# Wine's console draws with escape sequences (the cursor hidden and shown around each character).
esc=$(printf '\033')
out=$(script -qec "$1 '$2' '$(win "$3")' '$(win "$4")' '$(win "$dir")'" /dev/null </dev/null |
  sed "s/$esc\[[^a-zA-Z]*[a-zA-Z]//g" | tr -d '\r')
case $out in
  *PASS*) ;;
  *) printf '%s\n' "$out"; exit 1 ;;
esac
