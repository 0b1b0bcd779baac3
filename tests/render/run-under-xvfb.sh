#!/usr/bin/env bash
# Runs a command on a private X server (a free display chosen by xvfb-run) with
# a 24-bit screen, so that render windows get a real OpenGL context (Mesa's
# software rasteriser) and can be read back.
set -euo pipefail
unset WAYLAND_DISPLAY
# Races inside uninstrumented system libraries (ThreadSanitizer builds only).
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(dirname "$0")/tsan.supp"
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$@"
