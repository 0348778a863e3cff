#!/usr/bin/env bash
# Runs win32_devcfg_tests.exe under Wine inside a lab of its own, against
# devsim, with the scan suite's harness:
#
#   tests/win32/devcfg/run_in_lab.sh [--build DIR] [--devsim PATH] [-- TEST-ARGS...]
#
# Screenshots of the three device configuration windows land in
# BUILD/devcfg-lab-shots. Exits with the test program's status.
exec bash "$(dirname "$0")/../scan/run_in_lab.sh" --suite devcfg "$@"
