#!/bin/sh
# Keys piped from a pipe that cannot be peeked (a host pipe, as Wine hands a Win32 program its standard
# input when it is started from a shell) answer every prompt, not only the first.
#   host_pipe_keys.sh <emulator> <zelvane.exe>
set -eu
emulator=$1
program=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
: >a.txt
: >b.txt
: >c.txt
actual=$(printf 'yny' | "$emulator" "$program" '*.txt' -p -n echo '$n' | tr -d '\r')
expected='Execute "echo a.txt"? [y/n] y
a.txt
Execute "echo b.txt"? [y/n] n
Execute "echo c.txt"? [y/n] y
c.txt'
if [ "$actual" != "$expected" ]; then
  printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"
  exit 1
fi
