#!/usr/bin/env bash
# Demux speed of the FLV reader beside ffmpeg's on one large file (not a test).
# Makes a FLV of a few hundred MiB with ffmpeg (kept in the build tree, not committed), then
# times `lumeo-probe --quiet FILE` and `ffmpeg -v quiet -i FILE -c copy -f null -` on it and
# prints both times and their ratio (ffmpeg / probe: 1 or more means at least as fast).
# Usage: tools/bench/flv-demux.sh [build dir, default build/normal] [seconds of media, default 60]
# (LUMEO_BENCH_QUICK set: 2 seconds of media, which only checks that it runs)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/normal}"
seconds="${2:-60}"
[ -n "${LUMEO_BENCH_QUICK:-}" ] && seconds=2
probe="$build/dist/lumeo-probe"
[ -x "$probe" ] || { echo "no $probe: build first (scripts/build normal)" >&2; exit 2; }
file="$build/bench/large-${seconds}s.flv"  # one file per length, so no run reuses another's
mkdir -p "$(dirname "$file")"
if [ ! -s "$file" ]; then
    echo "making $file ($seconds s of 640x360 Sorenson H.263 and MP3)..."
    # Noise keeps the encoder from squeezing the pictures: about 5 MiB per second.
    ffmpeg -v error -y -f lavfi -i "testsrc=size=640x360:rate=25" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100" -t "$seconds" -vf "noise=alls=30:allf=t" \
        -c:v flv -q:v 3 -g 50 -c:a libmp3lame -b:a 128k -ar 44100 -ac 2 "$file"
fi
ls -l "$file"
# A first pass of each brings the file into the page cache, so both read from memory.
"$probe" --quiet "$file" >/dev/null
ffmpeg -v quiet -i "$file" -c copy -f null - 
best() { # best of three wall-clock times of the given command, in seconds
    local best=""
    for _ in 1 2 3; do
        local t0 t1
        t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
        best=$(echo "$t0 $t1 ${best:-1e9}" | awk '{d=$2-$1; print (d<$3)?d:$3}')
    done
    echo "$best"
}
tp=$(best "$probe" --quiet "$file")
tf=$(best ffmpeg -v quiet -i "$file" -c copy -f null -)
"$probe" --quiet "$file" | tail -1
echo "lumeo-probe: ${tp} s"
echo "ffmpeg:      ${tf} s"
echo "ratio ffmpeg/probe: $(echo "$tf $tp" | awk '{printf "%.2f", $1/$2}')"
