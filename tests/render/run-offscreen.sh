#!/usr/bin/env bash
# Runs a command on Qt's offscreen platform, where there is no OpenGL and the
# renderer must take its CPU fallback.
set -euo pipefail
# Races inside uninstrumented system libraries (ThreadSanitizer builds only).
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(dirname "$0")/tsan.supp"
export QT_QPA_PLATFORM=offscreen
exec "$@"
