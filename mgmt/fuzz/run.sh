#!/usr/bin/env bash
# Builds the libFuzzer targets of the management protocol with clang and runs
# each for a bounded time. Usage: run.sh [SECONDS_PER_TARGET] (default 60).
# Exits non-zero when a target crashes or fails to build; crash inputs are
# kept in the work folder ($FUZZ_BUILD, default build/fuzz under the project).
set -euo pipefail

seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 1 ] || { echo "run.sh: seconds must be a positive number" >&2; exit 2; }

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

declare -A sources=(
    [reply_classify]="${mgmt_sources[*]}"
    [discovery_reply]="${mgmt_sources[*]}"
    [devsim_request]="${mgmt_sources[*]} ${devsim_sources[*]}"
)

status=0
for target in reply_classify discovery_reply devsim_request; do
    binary="$out/fuzz_$target"
    echo "== building $target"
    # shellcheck disable=SC2086
    "$CXX" "${flags[@]}" "$here/fuzz_$target.cpp" ${sources[$target]} -o "$binary"

    # Work on a copy so the committed seeds stay small and stable.
    work="$out/corpus_$target"
    mkdir -p "$work" "$out/crashes_$target"
    cp -n "$here/corpus/$target/"* "$work/" 2>/dev/null || true

    echo "== running $target for ${seconds}s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
         -artifact_prefix="$out/crashes_$target/" -print_final_stats=1 "$work" \
         > "$out/$target.log" 2>&1; then
        echo "!! $target failed; see $out/$target.log and $out/crashes_$target/" >&2
        tail -30 "$out/$target.log" >&2
        status=1
    else
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+.*DONE' "$out/$target.log" || true
    fi
done
exit $status
