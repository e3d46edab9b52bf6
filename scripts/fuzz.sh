#!/usr/bin/env bash
# Builds every fuzz/*_fuzz.cpp with clang and libFuzzer (plus ASan and UBSan)
# into build-fuzz/ and runs each for FUZZ_SECONDS (default 60). The seeds in
# fuzz/corpus/<name>/ are read, never written: inputs the fuzzer finds go to
# build-fuzz/corpus/<name>/, crashes to build-fuzz/artifacts/<name>/. An input
# worth keeping is copied into the seed folder by hand, with a telling name.
# Prints each target's executions and time as it finishes and a table of all
# targets at the end; every fuzz/*_fuzz.cpp present is built and run.
#
# A second pass per target hunts slow inputs: inputs up to FUZZ_SLOW_MAX_LEN
# bytes (1 MiB, the body the shipped configurations allow), grown from the
# start (-len_control=0) from each seed repeated up to that length, for
# FUZZ_SLOW_SECONDS (FUZZ_SECONDS / 2); an
# input that takes longer than FUZZ_SLOW_TIMEOUT seconds (5) fails the pass
# and is kept in build-fuzz/artifacts/<name>/ as a timeout- file.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
FUZZ_SLOW_SECONDS="${FUZZ_SLOW_SECONDS:-$(( (FUZZ_SECONDS + 1) / 2 ))}"
FUZZ_SLOW_MAX_LEN="${FUZZ_SLOW_MAX_LEN:-1048576}"
FUZZ_SLOW_TIMEOUT="${FUZZ_SLOW_TIMEOUT:-5}"
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
slow_rows=()
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

  slow_work="$FUZZ_BUILD/slow-corpus/$name"
  slow_seeds="$FUZZ_BUILD/slow-seeds/$name"
  slow_log="$FUZZ_BUILD/$target.slow.log"
  mkdir -p "$slow_work" "$slow_seeds"
  # Each seed repeated up to the largest length: repeated names, lines and
  # fields, the shapes that cost the square of their length in a reader
  # that adds one item at a time.
  /usr/bin/python3 - "fuzz/corpus/$name" "$slow_seeds" "$FUZZ_SLOW_MAX_LEN" <<'PY'
import os, sys
seeds, out, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
for name in sorted(os.listdir(seeds)):
    data = open(os.path.join(seeds, name), "rb").read()
    if data:
        open(os.path.join(out, name), "wb").write((data * (size // len(data) + 1))[:size])
PY
  echo "fuzz: $target, slow inputs up to $FUZZ_SLOW_MAX_LEN bytes for ${FUZZ_SLOW_SECONDS}s"
  status=ok
  if ! "$FUZZ_BUILD/fuzz/$target" -max_total_time="$FUZZ_SLOW_SECONDS" -timeout="$FUZZ_SLOW_TIMEOUT" \
      -max_len="$FUZZ_SLOW_MAX_LEN" -len_control=0 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$slow_work" "$slow_seeds" "$work" "fuzz/corpus/$name" >"$slow_log" 2>&1; then
    status=FAILED
    failed+=("$target (slow inputs)")
    tail -n 40 "$slow_log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$slow_log" | tail -n 1)
  slowest=$(sed -n 's/^stat::slowest_unit_time_sec: *//p' "$slow_log" | tail -n 1)
  largest=$(find "$slow_work" "$slow_seeds" -type f -printf '%s\n' | sort -n | tail -n 1)
  echo "  $target: ${runs:-?} executions, slowest ${slowest:-?}s, largest input ${largest:-0} bytes, $status"
  slow_rows+=("$(printf '%-28s %12s %12s %14s  %s' "$target" "${runs:-?}" "${slowest:-?}" "${largest:-0}" "$status")")
done

echo
echo "fuzz: summary (FUZZ_SECONDS=$FUZZ_SECONDS)"
printf '%-28s %12s %9s %9s %7s %6s  %s\n' target executions seconds exec/s new corpus result
for row in "${rows[@]}"; do echo "$row"; done

echo
echo "fuzz: slow inputs (FUZZ_SLOW_SECONDS=$FUZZ_SLOW_SECONDS, -max_len=$FUZZ_SLOW_MAX_LEN, -timeout=$FUZZ_SLOW_TIMEOUT)"
printf '%-28s %12s %12s %14s  %s\n' target executions "slowest s" "largest bytes" result
for row in "${slow_rows[@]}"; do echo "$row"; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failures in ${failed[*]} (inputs in $FUZZ_BUILD/artifacts/)"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${FUZZ_SECONDS}s, and ${FUZZ_SLOW_SECONDS}s on slow inputs, without a failure"
