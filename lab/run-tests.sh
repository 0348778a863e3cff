#!/usr/bin/env bash
# Runs every test tier after the build: native (GoogleTest under ASan/UBSan),
# win32 (GoogleTest under Wine), e2e (the real binaries driven from outside),
# and a bounded fuzzing pass. Prints a count per tier and a total. The Wine
# tiers run one Windows build, the shipped i686 one where it runs
# (lab/test-build.sh), and the summary names it.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
LOGS="$ROOT/build/test-logs"
mkdir -p "$LOGS"
FUZZ_SECONDS=${PARLO_FUZZ_SECONDS:-60}

total_passed=0
total_failed=0
summary=()

# Everything that runs under Wine runs inside the PC namespace of a lab of
# its own: whatever a host or a test there connects to, nothing can leave
# through the machine's real interface.
inlab() { bash "$ROOT/lab/in-lab.sh" "$@"; }

# Counts GoogleTest results in a log: "[  PASSED  ] N tests" and failed test lines.
count_gtest() {
    local log=$1
    local passed failed
    passed=$(grep -aoE '^[0-9]*: ?\[       OK \]|^\[       OK \]' "$log" | wc -l)
    failed=$(grep -aE '\[  FAILED  \] [A-Za-z_0-9]+\.[A-Za-z_0-9/]+ \(' "$log" | wc -l)
    echo "$passed $failed"
}

# Seconds since the tier began (tier_start sets the start).
tier_start() { tier_began=$SECONDS; }
tier_time() { echo "$((SECONDS - tier_began)) s"; }

tier() {
    local name=$1 rc=$2 log=$3
    local counts
    counts=$(count_gtest "$log")
    set -- $counts
    local passed=$1 failed=$2
    if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summary+=("$name: $passed passed, $failed failed ($(tier_time))")
}

# A tier whose runner counts for itself, in a last line "NAME: N passed, M
# failed" of its log; a runner that failed without saying so counts one
# failure. Returns 1 when anything failed.
counted_tier() {
    local name=$1 rc=$2 log=$3 line passed failed
    line=$(grep -aE "^$name: [0-9]+ passed, [0-9]+ failed" "$log" | tail -1)
    passed=$(echo "$line" | awk '{print $2}')
    failed=$(echo "$line" | awk '{print $4}')
    passed=${passed:-0}
    failed=${failed:-1}
    if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summary+=("$name: $passed passed, $failed failed ($(tier_time))")
    [ "$failed" -eq 0 ]
}

echo "== native tier"
tier_start
(cd "$ROOT/build/native" && ctest --output-on-failure -V) > "$LOGS/native.log" 2>&1
rc=$?
grep -aE '^[0-9]+/[0-9]+ Test|tests passed|FAILED' "$LOGS/native.log"
tier native $rc "$LOGS/native.log"

# Decided once, for every tier below.
PARLO_TEST_BUILD=$(bash "$ROOT/lab/test-build.sh")
export PARLO_TEST_BUILD
case "$PARLO_TEST_BUILD" in
    */win32) tested="i686 (build/win32, as shipped)" ;;
    *) tested="x86_64 (build/win64)" ;;
esac

echo "== win32 tier (Wine, $tested)"
tier_start
inlab bash "$ROOT/lab/with-wine.sh" --name win32 -- ctest --test-dir "$PARLO_TEST_BUILD" --output-on-failure -V \
    > "$LOGS/win32.log" 2>&1
rc=$?
grep -aE '^[0-9]+/[0-9]+ Test|tests passed|FAILED' "$LOGS/win32.log"
tier win32 $rc "$LOGS/win32.log"

echo "== win32 tier in the lab (Wine against devsim)"
for script in "$ROOT"/tests/win32/*/run_in_lab.sh; do
    suite=$(basename "$(dirname "$script")")
    tier_start
    bash "$script" --build "$PARLO_TEST_BUILD" --devsim "$ROOT/build/native/bin/devsim" \
        > "$LOGS/lab-$suite.log" 2>&1
    rc=$?
    grep -aE '^\[  (PASSED|FAILED)  \]|tests ran' "$LOGS/lab-$suite.log"
    tier "lab-$suite" $rc "$LOGS/lab-$suite.log"
done

echo "== e2e tier (Wine, real binaries)"
tier_start
inlab bash "$ROOT/tests/e2e/run.sh" > "$LOGS/e2e.log" 2>&1
rc=$?
cat "$LOGS/e2e.log"
counted_tier e2e $rc "$LOGS/e2e.log"

echo "== fuzzing (${FUZZ_SECONDS}s per protocol target, ${PARLO_FUZZ_RUNS:-1000000} runs per host target)"
tier_start
bash "$ROOT/mgmt/fuzz/run.sh" "$FUZZ_SECONDS" > "$LOGS/fuzz.log" 2>&1
rc=$?
grep -aE '^fuzz target ' "$LOGS/fuzz.log"
counted_tier fuzz $rc "$LOGS/fuzz.log" || tail -30 "$LOGS/fuzz.log"

echo
echo "== summary (logs in build/test-logs)"
echo "Windows build tested: $tested"
for s in "${summary[@]}"; do echo "$s"; done
echo "tests ran for $SECONDS s"
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
