#!/usr/bin/env bash
# Runs a command inside the PC namespace of a test network of its own, built
# for this run and taken down afterwards: nothing the command sends can leave
# through the machine's real interface.
#   lab/in-lab.sh COMMAND [ARG]...
# Inside, PARLO_LAB_RUNID names the lab (lab/netns.sh exec "$PARLO_LAB_RUNID" dev ...
# reaches the device side).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || { echo "usage: in-lab.sh COMMAND [ARG]..." >&2; exit 2; }
export PARLO_LAB_RUNID="l$$"
bash "$ROOT/lab/netns.sh" up "$PARLO_LAB_RUNID" >/dev/null || { echo "in-lab: could not build the test network" >&2; exit 1; }
trap 'bash "$ROOT/lab/netns.sh" down "$PARLO_LAB_RUNID" >/dev/null 2>&1' EXIT
trap 'exit 130' INT TERM
bash "$ROOT/lab/netns.sh" exec "$PARLO_LAB_RUNID" pc "$@"
