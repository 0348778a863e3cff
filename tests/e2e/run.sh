#!/usr/bin/env bash
# The e2e tier: the real binaries under Wine, driven from outside by pmauto,
# each scenario in its own fresh prefix. Screenshots go to build/e2e/shots.
# The binaries come from the build lab/test-build.sh picks (BIN overrides).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${BIN:-}" ]; then
    BIN="$(bash "$ROOT/lab/test-build.sh")/bin"
fi
export BIN
echo "e2e: binaries from ${BIN#$ROOT/}"
total_passed=0
total_failed=0
for scenario in "$ROOT"/tests/e2e/scenario_*.sh; do
    name=$(basename "$scenario" .sh)
    began=$SECONDS
    out=$(bash "$ROOT/lab/with-wine.sh" --name "e2e-$name" --fresh -- \
          bash -c 'source "$0"; echo "E2E_COUNTS $e2e_passed $e2e_failed"' "$scenario" 2>&1)
    echo "$out" | grep -v '^E2E_COUNTS'
    echo "  ($name: $((SECONDS - began)) s)"
    counts=$(echo "$out" | grep '^E2E_COUNTS' | tail -1)
    if [ -z "$counts" ]; then
        echo "  FAILED: $name did not finish"
        total_failed=$((total_failed + 1))
        continue
    fi
    set -- $counts
    total_passed=$((total_passed + $2))
    total_failed=$((total_failed + $3))
done
echo "e2e: $total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
