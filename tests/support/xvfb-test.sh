#!/usr/bin/env bash
# Runs a command under Xvfb for zavta_add_xvfb_test(): Qt on xcb, Mesa in software, no high-DPI
# scaling, a UTF-8 C locale and a scratch XDG_DATA_HOME. Exits 77 (skipped)
# when Xvfb cannot start, unless ZAVTA_REQUIRE_GL is set.
set -u
readonly SCREEN="-screen 0 1280x1024x24"

cannot_start() {
  if [ -n "${ZAVTA_REQUIRE_GL:-}" ]; then
    echo "xvfb-test: Xvfb cannot start: $1" >&2
    exit 1
  fi
  echo "xvfb-test: Xvfb cannot start ($1): skipped"
  exit 77
}

command -v xvfb-run >/dev/null 2>&1 || cannot_start "xvfb-run is not installed"
xvfb-run -a -s "$SCREEN" true >/dev/null 2>&1 || cannot_start "xvfb-run failed"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/data" "$scratch/runtime"
chmod 700 "$scratch/runtime"
xvfb-run -a -s "$SCREEN" env QT_QPA_PLATFORM=xcb QT_ENABLE_HIGHDPI_SCALING=0 LC_ALL=C.UTF-8 LIBGL_ALWAYS_SOFTWARE=1 \
  XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime" "$@"
