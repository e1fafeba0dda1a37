#!/usr/bin/env bash
# Builds Larkspur and starts it. Without a data folder on the command line it
# makes a few minutes of sample recording first (once) and names its folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target larkspur avdata-sample skin_pictures lang_files
DATA=${1:-$PWD/sample}
if [ ! -d "$DATA/avdata" ] && [ "$(basename "$DATA")" != "avdata" ] && [ -x build/bin/avdata-sample ]; then
  echo "making a sample recording in $DATA/avdata ..."
  build/bin/avdata-sample "$DATA" --minutes 3
fi
[ -d "$DATA" ] && echo "data folder: $DATA (open it with Open in Larkspur)"
export LARKSPUR_DATA_FOLDER="$DATA"
exec build/bin/larkspur
