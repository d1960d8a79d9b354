#!/usr/bin/env bash
# Runs the whole ctest suite N times (default 10) while busy loops load the
# processors (two, or BUSY_LOOPS), and prints the passes and failures of each
# test. A test that depends on the machine's speed, or waits on a neighbour
# of the state it checks, shows up here as a failure now and then.
#
#   scripts/stress-tests.sh [N] [build folder]      (build folder: build)
#
# The build must be there (cmake --build build). The log of every run that
# failed is kept as <build>/stress/run-<i>.log. Exits 1 when any run failed,
# 2 when it could not run the suite.
set -euo pipefail
export LC_ALL=C
runs=${1:-10}
build=${2:-build}
loops=${BUSY_LOOPS:-2}
cd "$(dirname "$0")/.."
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "stress-tests: N must be a positive number" >&2; exit 2; }
[ -f "$build/CTestTestfile.cmake" ] || { echo "stress-tests: no ctest suite in $build (build it first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
logs="$build/stress"
mkdir -p "$logs"

# The load: busy loops, ended on any exit.
busy=()
stop_load() {
    local pid
    for pid in "${busy[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${busy[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    busy=()
}
trap stop_load EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for ((i = 0; i < loops; i++)); do
    bash -c 'while :; do :; done' &
    busy+=("$!")
done

declare -A passed failed
names=()
bad_runs=0
for ((run = 1; run <= runs; run++)); do
    log="$logs/run-$run.log"
    start=$(date +%s)
    status=0
    (cd "$build" && ctest --output-on-failure) >"$log" 2>&1 || status=$?
    # "  3/14 Test  #4: tst_desktop ......................***Failed   22.89 sec"
    results=$(sed -nE 's/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: +([^ ]+) +\.*[ *]*([A-Za-z][A-Za-z ]*[a-z]).*/\1 \2/p' "$log")
    if [ -z "$results" ]; then
        echo "stress-tests: run $run gave no results (see $log)" >&2
        exit 2
    fi
    run_failed=()
    while read -r name verdict; do
        [ -n "${passed[$name]+x}" ] || { names+=("$name"); passed[$name]=0; failed[$name]=0; }
        if [ "$verdict" = Passed ]; then
            passed[$name]=$((passed[$name] + 1))
        else
            failed[$name]=$((failed[$name] + 1))
            run_failed+=("$name")
        fi
    done <<<"$results"
    if [ "${#run_failed[@]}" -eq 0 ] && [ "$status" -eq 0 ]; then
        rm -f "$log"
        echo "run $run/$runs: clean ($(($(date +%s) - start)) s)"
    else
        bad_runs=$((bad_runs + 1))
        echo "run $run/$runs: FAILED ${run_failed[*]:-(ctest status $status)} ($(($(date +%s) - start)) s, $log)"
    fi
done

echo
echo "load: $loops busy loops on $(nproc) processors; runs: $runs, clean: $((runs - bad_runs))"
printf '%-24s %6s %6s\n' test passed failed
for name in "${names[@]}"; do
    printf '%-24s %6d %6d\n' "$name" "${passed[$name]}" "${failed[$name]}"
done
[ "$bad_runs" -eq 0 ]
