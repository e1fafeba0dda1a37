#!/usr/bin/env bash
# Builds Larkspur, Halyard and the tools, then starts Larkspur in its program
# folder (build/bin), where its settings, recent recorders and stores live.
# Without a data folder on the command line it makes a few minutes of sample
# recording first (once) and names the folder to choose in Open.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target larkspur halyard fake-recorder watermark-check avdata-sample \
  avdata-dump avdata-export avdata-backup window-shots data-files skin_pictures lang_files program_data_files
DATA=${1:-$ROOT/sample}
DATA=$(realpath -m "$DATA")
# Open accepts the "avdata" folder itself.
if [ "$(basename "$DATA")" != "avdata" ]; then DATA=$DATA/avdata; fi
if [ ! -d "$DATA" ] && [ $# -eq 0 ]; then
  echo "making a sample recording in $DATA ..."
  build/bin/avdata-sample "$(dirname "$DATA")" --minutes 3
fi
if [ -d "$DATA" ]; then
  echo "data folder: $DATA (choose it with Open, then the folder button of \"View Record Files\")"
else
  echo "no data folder at $DATA" >&2
fi
export LARKSPUR_DATA_FOLDER="$DATA"
cd build/bin
exec ./larkspur
