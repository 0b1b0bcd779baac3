#!/usr/bin/env bash
# The main job of `make run`: shows what the tools can do with the sample
# clip package, then runs the package itself. Until the viewer exists, the
# package starts a stand-in that reports the path it was given.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
package="$build/sample/Ospry-sample"

echo "== ospry-clip =="
"$bin/ospry-clip" --help
echo
if [ ! -x "$package" ]; then
  echo "The sample package is missing: $package" >&2
  exit 1
fi
echo "== ospry-clip info $package =="
"$bin/ospry-clip" info "$package"
echo
echo "== ospry-clip verify $package =="
"$bin/ospry-clip" verify "$package"
echo
echo "== running the sample package =="
run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "(no display: running without a window or tray icon)"
  export QT_QPA_PLATFORM=offscreen
fi
TMPDIR="$run_dir" "$package"
