#!/usr/bin/env bash
# Times the exports and the backup side by side with the plain tools that do
# the same work, in one run on the same data, and prints the median of each
# and their ratios (reference time / our time: 1 is as fast, above 1 faster).
#   original-frames export      vs  cp of the range's minute files
#   Video 1 export              vs  ffmpeg -c:v msvideo1 on the same pictures
#   backup of a day             vs  cp -r of the day
#   backup of 30 sparse days    vs  cp -r of those days
# Each pair runs in turn, the other way round every second run, and the
# removal of the previous output is written out before a timing starts, so
# neither side pays for what the other left behind.
# usage: tests/bench/export_backup_ratios.sh [BIN_FOLDER] [RUNS] [PAIRS]
#   PAIRS: some of original,msvideo1,day,sparse (default all)
set -euo pipefail
BIN=${1:-build/bin}
RUNS=${2:-5}
PAIRS=${3:-original,msvideo1,day,sparse}
BIN=$(cd "$BIN" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

now() { date +%s.%N; }
# Runs "$@" once and prints the seconds it took.
timed() {
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }
wanted() { [[ ",$PAIRS," == *",$1,"* ]]; }

# The sample: three minutes (the second missing) on four channels.
"$BIN/avdata-sample" "$WORK/disk" --date 2012-03-05 --start 14:07 --minutes 3 >/dev/null
DATA=$WORK/disk/avdata
MINUTES=$(ls "$DATA"/2012/03/05/14/REC*.db)

# A day and 30 sparse days for the backup: 256 KiB minute files (the backup
# copies them whole whatever they hold) under day indexes listing them.
make_day() {  # FOLDER YEAR MONTH DAY STEP ENTRIES: one minute file every STEP minutes
    local folder=$1 y=$2 m=$3 d=$4 step=$5 entries=${6:-1} dir count=0 hh mm
    dir=$(printf "%s/%d/%02d/%02d" "$folder" "$y" "$m" "$d")
    for ((minute = 0; minute < 1440; minute += step)); do
        hh=$((minute / 60)); mm=$((minute % 60))
        mkdir -p "$(printf "%s/%02d" "$dir" "$hh")"
        head -c 262144 /dev/urandom >"$(printf "%s/%02d/REC%02d.db" "$dir" "$hh" "$mm")"
        count=$((count + 1))
    done
    # Day index: 56-byte header (count at 4, date at 8-16) and ENTRIES entries
    # spread over the day, as a recorder's motion events give (hundreds a day),
    # their channel characters cycling 1, 2, 4, 8; with one entry, the whole day on all channels.
    python3 - "$dir/RecordList.db" "$y" "$m" "$d" "$entries" <<'PY'
import struct, sys
path, y, m, d, n = sys.argv[1], *map(int, sys.argv[2:])
with open(path, "wb") as f:
    f.write(struct.pack("<5i", 0, n, y, m, d) + bytes(36))
    if n == 1:
        f.write(b"000000235959f1\0\0")
    else:
        for i in range(n):
            start = i * 86400 // n
            end = min(start + 50, 86399)
            hms = lambda t: b"%02d%02d%02d" % (t // 3600, t // 60 % 60, t % 60)
            f.write(hms(start) + hms(end) + b"1248"[i % 4:i % 4 + 1] + b"1\0\0")
PY
}
make_day "$WORK/day/avdata" 2012 6 1 1
for d in $(seq 1 30); do make_day "$WORK/sparse/avdata" 2012 7 "$d" 97 1441; done

declare -A T
# Times CMD[A] into T[A] and CMD[B] into T[B], one after the other.
pair() {
    local a=$1 b=$2 first second key
    if ((run % 2)); then first=$b; second=$a; else first=$a; second=$b; fi
    for key in "$first" "$second"; do
        fresh "$WORK/out"
        T[$key]+="$(timed ${CMD[$key]}) "
    done
}
ffmpeg_parts() {
    for f in "$WORK"/orig/*.avi; do
        ffmpeg -nostdin -v error -y -i "$f" -an -vsync passthrough -pix_fmt rgb555le -c:v msvideo1 -g 30 "$WORK/out/$(basename "$f")"
    done
}
declare -A CMD=(
    [cp_min]="cp $MINUTES $WORK/out"
    [orig]="$BIN/avdata-export --data $DATA --date 2012-03-05 --from 14:07:00 --to 14:09:59 --channels 1,2,3,4 --format original --out $WORK/out"
    [ffmpeg]="ffmpeg_parts"
    [msvc]="$BIN/avdata-export --data $DATA --date 2012-03-05 --from 14:07:00 --to 14:09:59 --channels 1,2,3,4 --format msvideo1 --out $WORK/out"
    [cp_day]="cp -r $WORK/day/avdata $WORK/out/"
    [bk_day]="$BIN/avdata-backup --data $WORK/day/avdata --date 2012-06-01 --from 00:00:00 --to 23:59:59 --channels 1,2,3,4 --out $WORK/out"
    [cp_sparse]="cp -r $WORK/sparse/avdata $WORK/out/"
    [bk_sparse]="$BIN/avdata-backup --data $WORK/sparse/avdata --date 2012-07-01 --from 00:00:00 --to-date 2012-07-30 --to 23:59:59 --channels 1,2,3,4 --out $WORK/out"
)
# The pictures ffmpeg re-encodes: the original-frames export of the same range.
if wanted msvideo1; then
    fresh "$WORK/orig"
    "$BIN/avdata-export" --data "$DATA" --date 2012-03-05 --from 14:07:00 --to 14:09:59 --channels 1,2,3,4 \
        --format original --out "$WORK/orig" >/dev/null
fi
for ((run = 0; run < RUNS; run++)); do
    if wanted original; then pair orig cp_min; fi
    if wanted msvideo1; then pair msvc ffmpeg; fi
    if wanted day; then pair bk_day cp_day; fi
    if wanted sparse; then pair bk_sparse cp_sparse; fi
done

m() { tr ' ' '\n' <<<"${T[$1]}" | grep . | median; }
ratio() { echo "scale=3; $(m "$1") / $(m "$2")" | bc -l; }
printf "%-34s %10s %10s %8s\n" "median of $RUNS runs (s)" ours reference ratio
row() { printf "%-34s %10.3f %10.3f %8s\n" "$1" "$(m "$2")" "$(m "$3")" "$(ratio "$3" "$2")"; }
if wanted original; then row "original export vs cp minutes" orig cp_min; fi
if wanted msvideo1; then row "Video 1 export vs ffmpeg msvideo1" msvc ffmpeg; fi
if wanted day; then row "backup of a day vs cp -r" bk_day cp_day; fi
if wanted sparse; then row "backup of 30 sparse days vs cp -r" bk_sparse cp_sparse; fi
