#!/bin/sh
# Throughput of the file CRC, whole and with line ends skipped, against Python's zlib.crc32 reading the same
# file in 1 MiB blocks. Builds crc_bench if needed; the test file (512 MiB of CR LF text lines) lives in a
# temporary directory that is removed at the end.
#   bench/checksum.sh [SIZE_MIB] [RUNS]
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
SIZE_MIB=${1:-512}
RUNS=${2:-3}

[ -f "$BUILD/build.ninja" ] || cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" --target crc_bench >/dev/null
CRC_BENCH=$BUILD/crc_bench

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT INT TERM

# Text lines of 0 to 120 printable characters ending in CR LF, from a seeded generator; an 8 MiB block of
# them is repeated up to the size.
python3 - "$TMP/data.txt" "$SIZE_MIB" <<'PY'
import random, sys
path, size = sys.argv[1], int(sys.argv[2]) << 20
rng = random.Random(20240611)
alphabet = bytes(range(32, 127))
lines, total = [], 0
while total < 8 << 20:
    line = bytes(rng.choices(alphabet, k=rng.randint(0, 120))) + b"\r\n"
    lines.append(line)
    total += len(line)
block = b"".join(lines)[: 8 << 20]
with open(path, "wb") as f:
    written = 0
    while written < size:
        f.write(block[: size - written])
        written += min(len(block), size - written)
PY
cat "$TMP/data.txt" >/dev/null  # into the page cache, so every run reads from memory

zlib_rate() {
  python3 - "$TMP/data.txt" "$1" "$RUNS" <<'PY'
import os, sys, time, zlib
path, mode, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
size = os.path.getsize(path)
best, crc = float("inf"), 0
for _ in range(runs):
    start = time.perf_counter()
    crc = 0
    with open(path, "rb", buffering=0) as f:
        while block := f.read(1 << 20):
            if mode == "eol":
                block = block.translate(None, b"\r\n")
            crc = zlib.crc32(block, crc)
    best = min(best, time.perf_counter() - start)
print("%08x %.0f" % (crc, size / best / 1e6))
PY
}

echo "file: ${SIZE_MIB} MiB of CR LF text, best of $RUNS runs, MB/s"
for mode in whole eol; do
  set -- $("$CRC_BENCH" "$TMP/data.txt" "$mode" "$RUNS")
  ours_crc=$1 ours_rate=$2 kernel=$3
  set -- $(zlib_rate "$mode")
  zlib_crc=$1 zlib_rate=$2
  verdict=$([ "$ours_crc" = "$zlib_crc" ] && echo "CRCs agree" || echo "CRC MISMATCH")
  printf '%-5s zelvane %6s (%s)  zlib %6s  %s (%s)\n' "$mode" "$ours_rate" "$kernel" "$zlib_rate" "$verdict" "$ours_crc"
done
