#!/bin/sh
# Runs a test program on its own virtual X display, with a HOME of its own so
# the per-user web root and engine data never touch the real user's.
set -eu
home=$(mktemp -d)
# The web engine's last processes may still be writing there for a moment after
# the test ends; a cleanup that fails must not fail the test.
cleanup() {
    for _ in 1 2 3 4 5; do
        rm -rf "$home" 2>/dev/null && return 0
        sleep 1
    done
    echo "run-on-virtual-display: left $home behind" >&2
}
trap cleanup EXIT
# Freed memory is overwritten, so a use after free fails loudly rather than by luck.
HOME="$home" MALLOC_PERTURB_=165 xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
