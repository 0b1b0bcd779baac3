#!/usr/bin/env bash
# The main job of `make run`. Until the viewer can play the sample package, it
# shows what the command-line tools can do.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
echo "== ospry-clip =="
"$bin/ospry-clip" --help
