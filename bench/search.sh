#!/usr/bin/env bash
# Times a recursive search of a large tree against find(1).
#
#   bench/search.sh [path/to/zelvane] [rounds]
#
# Builds 200,000 files in 20,000 directories (200 directories, each with 99 below it; 10 files in each,
# 4 of them *.c or *.C) in a temporary directory, then runs, alternately,
#   zelvane "*.c" -s -n echo $f      and      find . -iname '*.c'
# with output to /dev/null, and prints the median of each and their ratio.
set -euo pipefail

zelvane=$(realpath "${1:-build/zelvane}")
rounds=${2:-5}
[[ -x $zelvane ]] || { echo "no zelvane binary at $zelvane" >&2; exit 1; }

tree=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-bench-XXXXXX")
trap 'rm -rf "$tree"' EXIT
cd "$tree"

echo "building the tree in $tree ..."
awk 'BEGIN {
  for (i = 0; i < 200; i++) {
    top = sprintf("d%03d", i)
    print top
    for (j = 0; j < 99; j++) print top "/s" sprintf("%02d", j)
  }
}' >dirs.lst
xargs mkdir -p <dirs.lst
awk '{
  print $0 "/main.c"; print $0 "/util.c"; print $0 "/Parse.C"; print $0 "/x.c";
  print $0 "/main.h"; print $0 "/readme.txt"; print $0 "/Makefile"; print $0 "/a.o";
  print $0 "/data.csv"; print $0 "/c.cc"
}' dirs.lst | xargs touch
rm dirs.lst
echo "$(find . -type d | wc -l) directories (with .), $(find . -type f | wc -l) files"

# One warm-up of each, so both read from the same cache.
"$zelvane" "*.c" -s -n echo '$f' >/dev/null
find . -iname '*.c' >/dev/null

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

ours=()
theirs=()
for ((r = 0; r < rounds; r++)); do
  ours+=("$(seconds "$zelvane" "*.c" -s -n echo '$f')")
  theirs+=("$(seconds find . -iname '*.c')")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
z=$(median "${ours[@]}")
f=$(median "${theirs[@]}")
echo "matches: $("$zelvane" "*.c" -s -n echo '$f' | wc -l) (find: $(find . -iname '*.c' | wc -l))"
printf 'zelvane median %.3f s, find median %.3f s, ratio %.2f\n' "$z" "$f" "$(echo "$z / $f" | bc -l)"
