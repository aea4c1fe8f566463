#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzzing build (FB_FUZZ=ON, see README).
#   scripts/fuzz.sh [-d BUILD_DIR] [-t SECONDS] [-j JOBS] [-c CORPUS_DIR] [TARGET...]
# Each target runs for SECONDS (default 30) from its seed corpus
# (tests/fuzz/corpus/<target>/, never written); the inputs it finds go to
# CORPUS_DIR/<target>/ (default: a temporary folder, removed afterwards) and
# a crashing input to CORPUS_DIR/<target>-crash-*. JOBS targets run at once
# (default 3). Without TARGETs, every fuzz_* executable of the build runs.
# Prints each target's executions and rate; exits non-zero when any target
# found something.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
seconds=30
jobs=3
corpus=""
while getopts "d:t:j:c:" opt; do
  case $opt in
    d) build=$OPTARG ;;
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    c) corpus=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))

bin="$build/tests/fuzz"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$bin"/fuzz_*; do
    [ -x "$f" ] && targets+=("$(basename "$f")")
  done
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $bin (build with -DFB_FUZZ=ON --target fuzz_targets)" >&2; exit 2; }

keep=1
if [ -z "$corpus" ]; then
  corpus=$(mktemp -d)
  keep=0
fi
logs=$(mktemp -d)
cleanup() {
  rm -rf "$logs"
  [ "$keep" -eq 1 ] || rm -rf "$corpus"
}
trap cleanup EXIT

run_one() {
  local t=$1 rc=0
  mkdir -p "$corpus/$t"
  "$bin/$t" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$corpus/$t-" "$corpus/$t" "tests/fuzz/corpus/$t" >"$logs/$t.log" 2>&1 || rc=$?
  echo "$rc" >"$logs/$t.rc"
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
for t in "${targets[@]}"; do
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logs/$t.log")
  echo "$t: ${execs:-?} executions, ${rate:-?}/s in ${seconds}s"
  [ "$(cat "$logs/$t.rc" 2>/dev/null)" = "0" ] || failed+=("$t")
done
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  for t in "${failed[@]}"; do
    echo "=== $t found something:" >&2
    tail -n 60 "$logs/$t.log" >&2
  done
  if [ "$keep" -eq 0 ]; then
    kept="${TMPDIR:-/tmp}/fuzz-findings-$$"
    cp -r "$corpus" "$kept"
    echo "inputs kept in $kept" >&2
  fi
  exit 1
fi
