#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UBSan) in their
# own build folder and runs each of them.
#
#   scripts/fuzz.sh            every target for 1,000,000 inputs
#   scripts/fuzz.sh --smoke    every target for a few seconds (CI)
#   scripts/fuzz.sh NAME...    only the named targets (fuzz_config, ...)
#
# Each target starts from its seeds (tests/fuzz/seeds/<name>) and keeps what
# it finds in build-fuzz/corpus/<name>; a crash, leak or undefined behaviour
# is written to build-fuzz/findings/<name>/ and makes the script exit 1.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=1000000
smoke_seconds=5
mode=full
targets=()
for arg in "$@"; do
  case "$arg" in
    --smoke) mode=smoke ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) targets+=("$arg") ;;
  esac
done

build=build-fuzz
mkdir -p "$build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DORIX_FUZZ=ON -DORIX_BUILD_TESTS=OFF \
  -DORIX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER_LAUNCHER="$(command -v ccache || true)" \
  -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)" >"$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; echo "fuzz: configure failed"; exit 2; }
cmake --build "$build" --target orix_fuzzers -j"$(nproc)" >"$build/build.log" 2>&1 \
  || { tail -50 "$build/build.log"; echo "fuzz: build failed"; exit 2; }

export QT_QPA_PLATFORM=offscreen
# A smaller quarantine than the default: the client makes and frees a large
# SOAP context per call, and recycling its pages is most of the time spent.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=16
# Scratch files (the configuration target's root) in memory when possible.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"

failed=0
passed=0
printf '%-20s %10s %10s %8s  %s\n' target inputs corpus seconds result
while read -r name exe seeds; do
  [ -n "$name" ] || continue
  if [ ${#targets[@]} -gt 0 ] && [[ ! " ${targets[*]} " =~ " $name " ]]; then continue; fi
  corpus="$PWD/$build/corpus/$name"
  findings="$PWD/$build/findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null
  if [ "$mode" = smoke ]; then
    limit=(-max_total_time="$smoke_seconds")
  else
    limit=(-runs="$runs")
  fi
  log="$build/$name.log"
  start=$(date +%s)
  # Inputs of at most 64 KiB; one input may take 10 s at most.
  (cd "$findings" && "$exe" "${limit[@]}" -max_len=65536 -timeout=10 -artifact_prefix="$findings/" \
     -print_final_stats=1 "$corpus") >"$log" 2>&1
  status=$?
  seconds=$(( $(date +%s) - start ))
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  size=$(ls "$corpus" | wc -l)
  if [ $status -eq 0 ]; then
    result=ok
    passed=$((passed + 1))
  else
    result="FINDING (exit $status): see $log and $findings"
    failed=$((failed + 1))
    grep -m5 -E "ERROR: |runtime error|SUMMARY" "$log" | sed 's/^/    /'
  fi
  printf '%-20s %10s %10s %8s  %s\n' "$name" "${inputs:-?}" "$size" "$seconds" "$result"
done <"$build/fuzzers.txt"

echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
