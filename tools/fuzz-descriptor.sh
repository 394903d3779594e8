#!/usr/bin/env bash
# Fuzz the HID report-descriptor parser for a bounded time; one of the targets of tools/fuzz.sh.
#   tools/fuzz-descriptor.sh [seconds]      default 60
exec "$(dirname "${BASH_SOURCE[0]}")/fuzz.sh" "${1:-60}" descriptor
