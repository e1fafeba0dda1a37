#!/usr/bin/env bash
# The original-frames export of four channels over long ranges beside the work
# it cannot avoid: `cp -r` of the range's minute files (the same names recur
# in every hour's folder, so the tree is copied) plus FFmpeg's own AAC and
# G.726 decoders on the range's sound (bench_range_sound_decode, the packets
# in memory, one thread). Prints the median of each and the ratio
# (cp + decoding) / export: 1 is as fast as that work alone.
#   - Both sides read warm files: the sample is read once before the runs.
#   - The sample's making and the removal of outputs are outside the timings.
#   - Each run times cp, the export and the decoding in turn on the same data.
# usage: tests/bench/original_export_ratios.sh [BIN_FOLDER] [RUNS] [MINUTES ...]  (default 30 180)
set -euo pipefail
BIN=${1:-build/bin}
RUNS=${2:-3}
shift $(($# > 2 ? 2 : $#))
LENGTHS=("$@")
[ ${#LENGTHS[@]} -gt 0 ] || LENGTHS=(30 180)
BIN=$(cd "$BIN" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

now() { date +%s.%N; }
timed() {
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
fresh() { rm -rf "$1"; mkdir -p "$1"; }
clock() { printf "%02d:%02d:%02d" $(($1 / 3600)) $(($1 / 60 % 60)) $(($1 % 60)); }

# N minutes from 12:00, made as 30-minute pieces side by side (each piece's
# second minute is a gap, as in the sample) and merged by hard links. The
# export reads only the minute files, not the day index.
make_sample() {  # FOLDER MINUTES
    local folder=$1 minutes=$2 start pieces=() jobs=0
    mkdir -p "$folder/avdata"
    for ((start = 0; start < minutes; start += 30)); do
        local piece=$WORK/piece$start length=$((minutes - start < 30 ? minutes - start : 30))
        "$BIN/avdata-sample" "$piece" --date 2012-03-05 --start "$(clock $((43200 + start * 60)) | cut -c1-5)" \
            --minutes "$length" >/dev/null &
        pieces+=("$piece")
        if ((++jobs % 4 == 0)); then wait; fi
    done
    wait
    for piece in "${pieces[@]}"; do
        cp -rlf "$piece/avdata/." "$folder/avdata/"
        rm -rf "$piece"
    done
}

# Free space for the sample, cp's copy and the export's (about the sample's size each).
need=$(( (${LENGTHS[-1]} * 14 * 3 + 512) * 1024 ))
avail=$(df -k --output=avail "$WORK" | tail -1)
if ((avail < need)); then echo "not enough space in $WORK: $((avail / 1024)) MiB, need $((need / 1024))" >&2; exit 1; fi

printf "%-10s %4s %9s %9s %9s %9s %8s %8s\n" range runs cp decode cp+dec export "cp/exp" ratio
for minutes in "${LENGTHS[@]}"; do
    make_sample "$WORK/s" "$minutes"
    DATA=$WORK/s/avdata
    TO=$(clock $((43200 + minutes * 60 - 1)))
    find "$DATA" -name 'REC*.db' -exec cat {} + >/dev/null
    declare -A T=()
    for ((run = 0; run < RUNS; run++)); do
        fresh "$WORK/out"; T[cp]+="$(timed cp -r "$DATA" "$WORK/out/") "
        fresh "$WORK/out"; T[exp]+="$(timed "$BIN/avdata-export" --data "$DATA" --date 2012-03-05 --from 12:00:00 \
            --to "$TO" --channels 1,2,3,4 --format original --out "$WORK/out") "
        rm -rf "$WORK/out"
        T[dec]+="$("$BIN/bench_range_sound_decode" --benchmark_min_time=1 --benchmark_format=csv --data "$DATA" \
            --date 2012-03-05 --from 12:00:00 --to "$TO" 2>/dev/null | awk -F, '/BM_FfmpegDecodeRange/ {print $3 / 1000}') "
    done
    m() { tr ' ' '\n' <<<"${T[$1]}" | grep . | median; }
    cp_s=$(m cp); dec_s=$(m dec); exp_s=$(m exp)
    printf "%-10s %4d %9.3f %9.3f %9.3f %9.3f %8.3f %8.3f\n" "${minutes} min" "$RUNS" "$cp_s" "$dec_s" \
        "$(echo "$cp_s + $dec_s" | bc -l)" "$exp_s" "$(echo "$cp_s / $exp_s" | bc -l)" \
        "$(echo "($cp_s + $dec_s) / $exp_s" | bc -l)"
    unset T
    rm -rf "$WORK/s"
done
