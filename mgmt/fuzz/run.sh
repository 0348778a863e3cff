#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each: the management
# protocol's for a bounded time, the host's (table entries, parlo.ini) for a
# number of runs. Usage: run.sh [SECONDS_PER_PROTOCOL_TARGET] (default 60);
# PARLO_FUZZ_RUNS sets the host targets' runs (default 1000000), and a host
# target that reports fewer executed units than that fails.
# Prints a line per target and "fuzz: N passed, N failed"; exits non-zero when
# a target crashes, leaks, falls short or fails to build. Crash inputs are
# kept in the work folder ($FUZZ_BUILD, default build/fuzz under the project).
set -uo pipefail

seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 1 ] || { echo "run.sh: seconds must be a positive number" >&2; exit 2; }
runs=${PARLO_FUZZ_RUNS:-1000000}
[[ "$runs" =~ ^[0-9]+$ ]] && [ "$runs" -ge 1 ] || { echo "run.sh: PARLO_FUZZ_RUNS must be a positive number" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_BUILD:-$root/build/fuzz}
mkdir -p "$out"

CXX=${CXX_FUZZ:-clang++}
flags=(-std=c++17 -g -O1 -I"$root" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer)

mgmt_sources=("$root"/mgmt/crc32.cpp "$root"/mgmt/md5.cpp "$root"/mgmt/credentials.cpp
              "$root"/mgmt/mgmt_build.cpp "$root"/mgmt/mgmt_receive.cpp "$root"/mgmt/discovery_reply.cpp)
devsim_sources=("$root"/devsim/sim_model.cpp "$root"/devsim/sim_request.cpp "$root"/mgmt/line_settings.cpp)
host_sources=("$root"/host/host_logic.cpp "$root"/host/link_logic.cpp "$root"/host/relay_logic.cpp
              "$root"/ports/port_table.cpp)
restore_sources=("$root"/host/host_restore.cpp "$root"/ports/config_read.cpp "$root"/ports/port_table.cpp)

declare -A sources=(
    [reply_classify]="${mgmt_sources[*]}"
    [discovery_reply]="${mgmt_sources[*]}"
    [devsim_request]="${mgmt_sources[*]} ${devsim_sources[*]}"
    [host_entry]="${host_sources[*]}"
    [config_restore]="${restore_sources[*]}"
)
declare -A extra=(
    [host_entry]="-fsanitize-coverage-ignorelist=$root/host/fuzz/coverage_ignore.txt"
    [config_restore]="-fsanitize-coverage-ignorelist=$root/host/fuzz/coverage_ignore.txt"
)
declare -A folder=(
    [reply_classify]="$here" [discovery_reply]="$here" [devsim_request]="$here"
    [host_entry]="$root/host/fuzz" [config_restore]="$root/host/fuzz"
)
# The host's targets run a number of times; a time limit there only ends a
# run that hangs, and then it falls short and fails.
declare -A budget=(
    [reply_classify]="-max_total_time=$seconds -max_len=4096"
    [discovery_reply]="-max_total_time=$seconds -max_len=4096"
    [devsim_request]="-max_total_time=$seconds -max_len=4096"
    [host_entry]="-runs=$runs -max_total_time=3600 -max_len=2048"
    [config_restore]="-runs=$runs -max_total_time=3600 -max_len=4096"
)
declare -A least=([host_entry]=$runs [config_restore]=$runs)

passed=0
failed=0
for target in reply_classify discovery_reply devsim_request host_entry config_restore; do
    binary="$out/fuzz_$target"
    echo "== building $target"
    # shellcheck disable=SC2086
    if ! "$CXX" "${flags[@]}" ${extra[$target]:-} "${folder[$target]}/fuzz_$target.cpp" ${sources[$target]} -o "$binary"; then
        echo "fuzz target $target: failed to build"
        failed=$((failed + 1))
        continue
    fi

    # Work on a copy so the committed seeds stay small and stable.
    work="$out/corpus_$target"
    mkdir -p "$work" "$out/crashes_$target"
    cp -n "${folder[$target]}/corpus/$target/"* "$work/" 2>/dev/null || true

    echo "== running $target (${budget[$target]})"
    started=$(date +%s)
    # shellcheck disable=SC2086
    "$binary" ${budget[$target]} -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$out/crashes_$target/" \
        -print_final_stats=1 "$work" > "$out/$target.log" 2>&1
    rc=$?
    took=$(( $(date +%s) - started ))
    units=$(grep -aoE '^stat::number_of_executed_units: *[0-9]+' "$out/$target.log" | grep -oE '[0-9]+$' | tail -1)
    units=${units:-0}
    rate=$(( units / (took > 0 ? took : 1) ))
    if [ "$rc" -ne 0 ]; then
        echo "fuzz target $target: failed after $units runs in ${took}s; see $out/$target.log and $out/crashes_$target/"
        tail -30 "$out/$target.log"
        failed=$((failed + 1))
    elif [ "$units" -lt "${least[$target]:-1}" ]; then
        echo "fuzz target $target: failed, $units runs in ${took}s, fewer than ${least[$target]}"
        failed=$((failed + 1))
    else
        echo "fuzz target $target: passed, $units runs in ${took}s ($rate/s)"
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
