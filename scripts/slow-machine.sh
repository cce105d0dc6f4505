#!/usr/bin/env bash
# Runs the test suite as on a slow, busy machine: every test pinned to one core
# that a busy loop shares (so the tests get about half of it), one test at a
# time. First the whole suite of the sanitizer build RUNS times, then the
# end-to-end tests alone E2E_RUNS times (with the Windows CLI's under Wine when
# the Windows build is there). Build first with `make test`. Needs root for the
# end-to-end tests, like `make test`.
#   scripts/slow-machine.sh [RUNS [E2E_RUNS]]      (defaults 5 and 20)
# Prints one line per run and, at the end, how often each end-to-end test ran
# and failed; the logs of failed runs stay in build/slow-machine.
set -uo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-5}"
E2E_RUNS="${2:-20}"
BUILD=build/test
WIN_BUILD=build/windows
LOGS=build/slow-machine
[ -f "$BUILD/CTestTestfile.cmake" ] || { echo "no $BUILD: run make test first" >&2; exit 2; }
mkdir -p "$LOGS"
CORE=0

taskset -c "$CORE" sh -c 'while :; do :; done' &
BUSY=$!
trap 'kill "$BUSY" 2>/dev/null' EXIT

declare -A RAN=() FAILED=()
failures=0

# run NAME BUILD [CTEST ARGS...]: one ctest run on the shared core.
run() {
    local name="$1" build="$2"
    shift 2
    local log="$LOGS/$name.log" started=$SECONDS status test
    taskset -c "$CORE" ctest --test-dir "$build" --output-on-failure -j1 "$@" >"$log" 2>&1
    status=$?
    for test in $(awk '/Test +#[0-9]+: e2e_/ { for (i = 1; i <= NF; i++) if ($i ~ /^e2e_/) print $i }' "$log"); do
        RAN[$test]=$((${RAN[$test]:-0} + 1))
    done
    for test in $(awk '/Test +#[0-9]+: e2e_.*(\*\*\*Failed|\*\*\*Timeout|Exception)/ {
        for (i = 1; i <= NF; i++) if ($i ~ /^e2e_/) print $i }' "$log"); do
        FAILED[$test]=$((${FAILED[$test]:-0} + 1))
    done
    if [ "$status" -eq 0 ]; then
        echo "$name: green in $((SECONDS - started)) s ($(grep -E 'tests passed' "$log" | tail -1))"
        rm -f "$log"
    else
        failures=$((failures + 1))
        echo "$name: RED in $((SECONDS - started)) s: $(grep -E 'tests failed out of' "$log" | tail -1);" \
            "$(grep -E '\*\*\*(Failed|Timeout)' "$log" | awk '{ print $4 }' | paste -sd' ')" \
            "(log: $log)"
    fi
}

for i in $(seq 1 "$RUNS"); do
    run "suite-$i" "$BUILD"
done
for i in $(seq 1 "$E2E_RUNS"); do
    run "e2e-$i" "$BUILD" -R '^e2e_'
    if [ -f "$WIN_BUILD/CTestTestfile.cmake" ]; then
        run "e2e-wine-$i" "$WIN_BUILD" -R '^e2e_'
    fi
done

echo "end-to-end tests (runs, failures):"
for test in $(printf '%s\n' "${!RAN[@]}" | sort); do
    echo "  $test: ${RAN[$test]} runs, ${FAILED[$test]:-0} failed"
done
echo "$failures red run(s)"
[ "$failures" -eq 0 ]
