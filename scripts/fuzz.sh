#!/usr/bin/env bash
# Builds every fuzz/*_fuzz.cpp with clang and libFuzzer (plus ASan and UBSan)
# into build-fuzz/ and runs each for FUZZ_SECONDS (default 60). The seeds in
# fuzz/corpus/<name>/ are read, never written: inputs the fuzzer finds go to
# build-fuzz/corpus/<name>/, crashes to build-fuzz/artifacts/<name>/. An input
# worth keeping is copied into the seed folder by hand, with a telling name.
# Prints each target's executions and time as it finishes and a table of all
# targets at the end; every fuzz/*_fuzz.cpp present is built and run.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
FUZZ_BUILD="${FUZZ_BUILD:-build-fuzz}"
JOBS="${JOBS:-2}"
sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S . -B "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALSETTO_FUZZ=ON -DVALSETTO_STATIC=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_C_FLAGS="$sanitizers" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null

targets=()
for source in fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build "$FUZZ_BUILD" -j "$JOBS" --target "${targets[@]}"

failed=()
rows=()
for target in "${targets[@]}"; do
  name="${target%_fuzz}"
  work="$FUZZ_BUILD/corpus/$name"
  artifacts="$FUZZ_BUILD/artifacts/$name"
  log="$FUZZ_BUILD/$target.log"
  mkdir -p "$work" "$artifacts" "fuzz/corpus/$name"
  echo "fuzz: $target for ${FUZZ_SECONDS}s"
  started=$(date +%s.%N)
  status=ok
  if ! "$FUZZ_BUILD/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$name" \
      >"$log" 2>&1; then
    status=FAILED
    failed+=("$target")
    tail -n 40 "$log"
  fi
  seconds=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -n 1)
  units=$(find "$work" -type f | wc -l)
  echo "  $target: ${runs:-?} executions in ${seconds}s (${rate:-?}/s), ${added:-?} new inputs, $status"
  rows+=("$(printf '%-28s %12s %9s %9s %7s %6s  %s' "$target" "${runs:-?}" "$seconds" "${rate:-?}" \
    "${added:-?}" "$units" "$status")")
done

echo
echo "fuzz: summary (FUZZ_SECONDS=$FUZZ_SECONDS)"
printf '%-28s %12s %9s %9s %7s %6s  %s\n' target executions seconds exec/s new corpus result
for row in "${rows[@]}"; do echo "$row"; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failures in ${failed[*]} (inputs in $FUZZ_BUILD/artifacts/)"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${FUZZ_SECONDS}s without a failure"
