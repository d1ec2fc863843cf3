#!/bin/sh
# Checks that the manual page is well-formed: any warning from the formatter fails the check.
# Usage: man/check.sh [page]   (default: man/zelvane.1 beside this script)
case $0 in */*) here=${0%/*} ;; *) here=. ;; esac
page=${1:-$here/zelvane.1}

if command -v mandoc >/dev/null 2>&1; then
  # STYLE-level messages are matters of taste; warnings and errors are faults.
  out=$(mandoc -Tlint -Wwarning "$page" 2>&1)
elif command -v groff >/dev/null 2>&1; then
  out=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
else
  echo "check.sh: neither mandoc nor groff is installed; manual page not checked" >&2
  exit 0
fi

if [ -n "$out" ]; then
  printf '%s\n' "$out" >&2
  echo "check.sh: $page has warnings" >&2
  exit 1
fi
echo "check.sh: $page is well-formed"
