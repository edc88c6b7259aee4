#!/usr/bin/env bash
# Demux speed of the MP4 reader beside ffmpeg's: makes a large MP4 (not kept), then times
# `lumeo-probe --quiet FILE` and `ffmpeg -v quiet -i FILE -c copy -f null -` on it.
# Usage: tools/bench/mp4-bench.sh [build dir, default build/normal] [seconds of media, default 45: about 300 MiB]
# (LUMEO_BENCH_QUICK set: 2 seconds of media, which only checks that it runs)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/normal}
seconds=${2:-45}
[ -n "${LUMEO_BENCH_QUICK:-}" ] && seconds=2
probe=$build/dist/lumeo-probe
[ -x "$probe" ] || { echo "no $probe: build first (scripts/build normal)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/large.mp4
# Noisy video keeps the encoder's output large: some hundreds of MiB with many packets.
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=640x360:rate=30:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" \
    -vf noise=alls=20:allf=t -c:v libx264 -preset ultrafast -qp 12 -g 60 \
    -c:a aac -b:a 128k "$file"
echo "file: $(du -h "$file" | cut -f1)"
cat "$file" > /dev/null  # both runs read from the page cache

best() {  # best of three wall-clock runs, in seconds
    local b=""
    for _ in 1 2 3; do
        local s e t
        s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc -l)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
    done
    echo "$b"
}
ours=$(best "$probe" --quiet "$file")
theirs=$(best ffmpeg -nostdin -v quiet -i "$file" -c copy -f null -)
"$probe" --quiet "$file"
printf 'lumeo-probe %.3f s, ffmpeg %.3f s, ratio (ffmpeg / ours) %.2f\n' "$ours" "$theirs" "$(echo "$theirs / $ours" | bc -l)"
