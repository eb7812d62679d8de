#!/bin/sh
# options_test.sh VERSION PROGRAM...: each program answers --help on stdout with exit 0,
# --version with the version, and names an unknown option in its one-line error (exit 2).
# With FRAME_BENCH set, its --out into a missing folder must exit 1; with DEMO set, the demo
# started without any display must say so and exit 1.
version=$1
shift
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for program in "$@"; do
    name=$(basename "$program")
    out=$("$program" --help) || fail "$name --help: exit $?"
    echo "$out" | grep -q -- '--version' || fail "$name --help does not list --version"
    "$program" --version | grep -q "$version" || fail "$name --version does not give $version"
    err=$("$program" --frobnicate 2>&1 >/dev/null)
    status=$?
    [ "$status" -eq 2 ] || fail "$name --frobnicate: exit $status"
    echo "$err" | grep -q -- "'--frobnicate'" || fail "$name --frobnicate: '$err'"
done
if [ -n "$FRAME_BENCH" ]; then
    "$FRAME_BENCH" --frames 1 --size 64x48 --out /nonexistent/frame.png > /dev/null 2>&1
    status=$?
    [ "$status" -eq 1 ] || fail "frame_bench --out /nonexistent/frame.png: exit $status"
    err=$("$FRAME_BENCH" --aa 5x 2>&1)
    [ $? -eq 2 ] && echo "$err" | grep -q "'5x'" || fail "frame_bench --aa 5x: '$err'"
    for spelling in "--mode speed --aa 4x" "--mode NEAREST --aa off" "--aa 16X --simd off" \
        "--aa 9x --simd AVX512"; do
        # shellcheck disable=SC2086
        "$FRAME_BENCH" --frames 1 --size 16x12 $spelling > /dev/null \
            || fail "frame_bench $spelling: exit $?"
    done
fi
if [ -n "$DEMO" ]; then
    err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$DEMO" 2>&1)
    status=$?
    [ "$status" -eq 1 ] && echo "$err" | grep -q 'no display' \
        || fail "demo without a display: exit $status, '$err'"
fi
[ "$failures" -eq 0 ]
