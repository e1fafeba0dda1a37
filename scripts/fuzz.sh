#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-10}
ls fuzz/*_fuzz.cpp >/dev/null 2>&1 || { echo "no fuzz targets"; exit 0; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKSPUR_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"
for src in fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  # Checked-in seeds lead a target to paths random mutation rarely finds.
  seeds=()
  [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
  echo "fuzzing $name for ${SECONDS_EACH}s"
  # Run inside build-fuzz so that any crash file lands there, not in the checkout.
  (cd build-fuzz && bin/"$name" -max_total_time="$SECONDS_EACH" -print_final_stats=0 "corpus/$name" \
      "${seeds[@]/#/../}") 2>build-fuzz/$name.log \
    || { tail -50 build-fuzz/$name.log; exit 1; }
done
echo "fuzz: all targets ran clean"
