#!/bin/sh
# krv_render_test.sh data KRV_RENDER HASH_TOOL DATA_DIR WORK_DIR
#   renders every OBJ under DATA_DIR, and a short turntable, checking each picture is a PNG of
#   the size asked for.
# krv_render_test.sh malformed KRV_RENDER MALFORMED_DIR WORK_DIR
#   runs it on every file of MALFORMED_DIR and on bad paths: each must exit 1 or 2 (not a
#   signal) with exactly one line on stderr, naming the program, and write no picture.
mode=$1 render=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$mode" = data ]; then
    hash=$3 data=$4 work=$5
    rm -rf "$work" && mkdir -p "$work"
    count=0
    for model in $(find "$data" -name '*.obj' | sort); do
        out="$work/$(basename "$model" .obj).png"
        "$render" "$model" -o "$out" --size 96x72 || fail "$model: exit $?"
        "$hash" "$out" | grep -q '^96x72:' || fail "$model: no 96x72 picture"
        count=$((count + 1))
    done
    [ "$count" -gt 0 ] || fail "no OBJ under $data"
    model=$(find "$data" -name '*.obj' | sort | head -n 1)
    "$render" "$model" -o "$work/turn.png" --size 32x24 --turntable 3 --shadows off \
        || fail "turntable: exit $?"
    for i in 000 001 002; do
        "$hash" "$work/turn_$i.png" | grep -q '^32x24:' || fail "turntable frame $i missing"
    done
    [ ! -e "$work/turn_003.png" ] || fail "turntable wrote a fourth frame"
    echo "$count models rendered"
else
    malformed=$3 work=$4
    rm -rf "$work" && mkdir -p "$work"
    expect_one_line() {
        rm -f "$work/out.png"
        "$render" "$@" -o "$work/out.png" --size 16x16 2> "$work/stderr"
        status=$?
        lines=$(wc -l < "$work/stderr")
        if [ "$status" -ne 1 ] && [ "$status" -ne 2 ]; then
            fail "$*: exit $status"
        elif [ "$lines" -ne 1 ] || ! grep -q '^krv-render: ' "$work/stderr"; then
            fail "$*: $lines lines on stderr:"; cat "$work/stderr"
        elif [ -e "$work/out.png" ]; then
            fail "$*: wrote a picture"
        else
            echo "ok $*: $(cat "$work/stderr")"
        fi
    }
    for f in "$malformed"/*; do expect_one_line "$f"; done
    expect_one_line "$work/no such model.obj"
    expect_one_line "$malformed"
    expect_one_line /dev/null
    expect_one_line "$malformed/empty.obj" --no-such-option
    expect_one_line "$malformed/empty.obj" --size 0x10
    expect_one_line "$malformed/empty.obj" --aa 5x
    expect_one_line "$malformed/empty.obj" --light 0,0,0
    # A model that loads, written where no file can be.
    good="$work/good.obj"
    printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n' > "$good"
    "$render" "$good" -o "$work/missing/out.png" --size 16x16 2> "$work/stderr"
    status=$?
    [ "$status" -eq 1 ] && [ "$(wc -l < "$work/stderr")" -eq 1 ] \
        || fail "unwritable output: exit $status, $(cat "$work/stderr")"
fi
[ "$failures" -eq 0 ]
