#!/usr/bin/env bash
# The shadow-mapping demo on a virtual X display, driven with real key presses and mouse moves:
# the title line, the light, shadows, the car, the feature, mode and resolution keys, camera
# drag and zoom, and the single Escape that must end the program with status 0.
#
#   demo_e2e.sh DEMO IMAGE_CHECK OUTPUT_DIR
#
# Screenshots and the demo's stderr stay in OUTPUT_DIR. KRV_E2E_SLOW=N multiplies every timeout
# (sanitizer builds render much slower).
set -u

demo=${1:?usage: demo_e2e.sh DEMO IMAGE_CHECK OUTPUT_DIR}
check=${2:?usage: demo_e2e.sh DEMO IMAGE_CHECK OUTPUT_DIR}
out=${3:?usage: demo_e2e.sh DEMO IMAGE_CHECK OUTPUT_DIR}
xvfb=${KRV_XVFB:-Xvfb}
xdotool=${KRV_XDOTOOL:-xdotool}
import=${KRV_IMPORT:-import}
slow=${KRV_E2E_SLOW:-1}

mkdir -p "$out"
rm -f "$out"/*.png "$out"/demo_stderr.txt

failures=0
xvfb_pid=
demo_pid=

start=${EPOCHREALTIME/,/.}
elapsed() { awk -v a="$start" -v b="${EPOCHREALTIME/,/.}" 'BEGIN { printf "%5.1fs", b - a }'; }
ok() { echo "ok   $(elapsed)  $*"; }
fail() {
    echo "FAIL $(elapsed)  $*"
    failures=$((failures + 1))
}
show_stderr() {
    if [ -s "$out/demo_stderr.txt" ]; then
        echo "the demo wrote to stderr:"
        sed 's/^/  | /' "$out/demo_stderr.txt"
    fi
}
fatal() {
    echo "FAIL $(elapsed)  $*"
    show_stderr
    echo "screenshots and the demo's stderr are in $out"
    exit 1
}

cleanup() {
    if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then
        kill "$demo_pid" 2>/dev/null
        wait "$demo_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}
trap cleanup EXIT

# Rounds of a polling loop, scaled by KRV_E2E_SLOW.
ticks() { echo $(($1 * slow)); }

# key=value field of an image_check line.
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }
# gt A B: true when the decimal A is greater than B.
gt() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

[ -x "$demo" ] || fatal "no demo program at $demo"
data_dir=$(dirname "$demo")
for f in ceiling.jpg Models/golf/golf.obj Models/golf/GolfVetri.obj Models/golf/GolfRuota.obj; do
    # A missing file makes the demo open a message box, which waits for a click for ever.
    [ -f "$data_dir/$f" ] || fatal "the demo's data file $data_dir/$f is missing"
done

# ---- A display of our own ----------------------------------------------------------------------
for n in 90 91 92 93 94 95 96 97 98 99; do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    "$xvfb" ":$n" -nolisten tcp -screen 0 1280x1024x24 >"$out/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        # The display must be served by our Xvfb, not by one that won the number first.
        if DISPLAY=":$n" "$xdotool" getdisplaygeometry >/dev/null 2>&1 &&
            [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$xvfb_pid" ]; then
            export DISPLAY=":$n"
            break 2
        fi
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
done
[ -n "$xvfb_pid" ] || fatal "no free display among :90 to :99 for Xvfb"
echo "display $DISPLAY"

# ---- Start ------------------------------------------------------------------------------------
unset SDL_VIDEODRIVER
# Sanitizer builds: what the system's D-Bus library keeps for the process is not ours, nor are
# the races inside the system's OpenGL rasterizer.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan.supp"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$(dirname "$0")/tsan.supp"
"$demo" 2>"$out/demo_stderr.txt" &
demo_pid=$!

# The window shows when the frame loop starts. Before that, a load error opens a message box
# (its text also goes to stderr), which waits for a click for ever.
wid=$(timeout $((20 * slow)) "$xdotool" search --sync --onlyvisible --name '^3D Korvane Demo' \
      2>/dev/null | head -n 1)
[ -n "$wid" ] || fatal "the demo's window did not appear within $((20 * slow)) s"
ok "window $wid is on screen"

title() { "$xdotool" getwindowname "$wid" 2>/dev/null; }

# Waits until the title matches the extended regular expression; titles change once a second.
expect_title() {
    local re=$1 what=$2 t
    for _ in $(seq "$(ticks 80)"); do
        t=$(title)
        if [[ $t =~ $re ]]; then
            ok "$what: \"$t\""
            return 0
        fi
        sleep 0.1
    done
    fail "$what: title \"$t\" does not match $re"
    return 1
}

nt='NT: [0-9]+$'
if ! expect_title "^3D Korvane Demo - FPS: [0-9]+ - 800x600, TF: ON, AA: 4x, RM: SPEED, $nt" \
    "title at start"; then
    kill -0 "$demo_pid" 2>/dev/null || fatal "the demo ended early"
    fatal "the frame loop does not run"
fi

press() { timeout 10 "$xdotool" windowfocus --sync "$wid" key "$@"; }

shot() { "$import" -window "$wid" "$out/$1.png" 2>>"$out/import.log" && echo "$out/$1.png"; }

# Seconds that hold at least two new frames at the frame rate the title shows (0.1 to 3).
gap() {
    local fps
    fps=$(title | sed -n 's/.* - FPS: \([0-9]*\) .*/\1/p')
    awk -v f="${fps:-0}" 'BEGIN { g = f > 0 ? 2 / f : 1; g = g < 0.1 ? 0.1 : g > 3 ? 3 : g;
                                 printf "%.2f", g }'
}

# Screenshots until two in a row, at least two frames apart, are equal (the light is stopped,
# so a settled frame stays); the first may be given. Prints the settled screenshot, saved as
# NAME.png.
settle() {
    local name=$1 prev=${2:-} cur line pause
    pause=$(gap)
    [ -n "$prev" ] || prev=$(shot "$name.0") || return 1
    for i in $(seq "$(ticks 30)"); do
        sleep "$pause"
        cur=$(shot "$name.$i") || continue
        line=$("$check" diff "$prev" "$cur" 0) || continue
        if [ "$(field count "$line")" = 0 ]; then
            mv "$cur" "$out/$name.png"
            rm -f "$out/$name".*.png
            echo "$out/$name.png"
            return 0
        fi
        prev=$cur
    done
    return 1
}

# After a key that changes the picture: waits for a frame that differs from BEFORE and prints
# its screenshot, saved as NAME.png. With the light stopped the first frame after a key is
# final; with "settle" as the third argument (mouse input spreads over several frames) the
# picture must also settle.
changed() {
    local before=$1 name=$2 cur line
    for i in $(seq "$(ticks 30)"); do
        cur=$(shot "$name.w$i") || continue
        line=$("$check" diff "$before" "$cur") || continue
        if [ "$(field count "$line")" -gt 50 ]; then
            if [ "${3:-}" = settle ]; then
                settle "$name" "$cur"
                return
            fi
            mv "$cur" "$out/$name.png"
            rm -f "$out/$name".w*.png
            echo "$out/$name.png"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits for a frame that differs from BEFORE in more than MIN pixels; prints the diff line.
moves() {
    local before=$1 name=$2 min=$3 cur line
    for i in $(seq "$(ticks 40)"); do
        sleep 0.2
        cur=$(shot "$name") || continue
        line=$("$check" diff "$before" "$cur") || continue
        if [ "$(field count "$line")" -gt "$min" ]; then
            echo "$line"
            return 0
        fi
    done
    return 1
}

# ---- The light circles, Space stops it ---------------------------------------------------------
a=$(shot moving_a)
if line=$(moves "$a" moving_b 100); then
    ok "the circling light changes the picture ($line)"
else
    fail "the picture stays the same while the light should circle"
fi

press space
on=$(settle shadows_on) || fatal "the picture keeps changing after Space"
pause=$(awk -v g="$(gap)" 'BEGIN { print 2 * g < 1 ? 1 : 2 * g }')
sleep "$pause"
line=$("$check" diff "$on" "$(shot stopped_later)" 0)
if [ "$(field count "$line")" = 0 ]; then
    ok "Space stops the light: the picture stays the same for $pause s"
else
    fail "the picture still changes after Space ($line)"
fi

# ---- Shadows: P -------------------------------------------------------------------------------
press p
off=$(changed "$on" shadows_off) || fatal "P (shadows off) does not change the picture"
# ---- The car: O (with shadows off, so the difference is the car alone) ------------------------
press o
nocar=$(changed "$off" car_off) || fatal "O (car off) does not change the picture"

# A low threshold: a car lit by the ambient term alone (the light behind it) is a dark red on
# the black background.
car=$("$check" diff "$off" "$nocar" 8)
echo "            car pixels (car on vs off): $car"
if gt "$(field share "$car")" 0.02; then
    ok "the car covers $(field share "$car") of the window"
else
    fail "the car covers only $(field share "$car") of the window"
fi
# Even the ambient term alone gives the car a clear value; tyres and window frames are the dark
# part. A car drawn black would have most of its pixels below the lit value.
if gt "$(field valueA "$car")" 18 && gt "$(field litA "$car")" 0.75; then
    ok "the car is lit: mean value $(field valueA "$car"), lit share $(field litA "$car")"
else
    fail "the car looks black: mean value $(field valueA "$car"), lit share $(field litA "$car")"
fi

# Pixels that shadows make darker, the car's own pixels left out: the shadow on the floor.
shadow=$("$check" darker "$on" "$off" 20 --exclude "$off" "$nocar")
echo "            floor darkened by shadows: $shadow"
if gt "$(field share "$shadow")" 0.005; then
    ok "shadows darken $(field share "$shadow") of the floor" \
        "(luma $(field lumaB "$shadow") -> $(field lumaA "$shadow"))"
else
    fail "shadows on darken almost no floor ($(field share "$shadow"))"
fi
# The shadow touches the car's box widened by half its size on every side.
IFS=, read -r cx0 cy0 cx1 cy1 <<<"$(field box "$car")"
IFS=, read -r sx0 sy0 sx1 sy1 <<<"$(field box "$shadow")"
mx=$(((cx1 - cx0) / 2))
my=$(((cy1 - cy0) / 2))
if [ "$sx1" -ge $((cx0 - mx)) ] && [ "$sx0" -le $((cx1 + mx)) ] &&
    [ "$sy1" -ge $((cy0 - my)) ] && [ "$sy0" -le $((cy1 + my)) ]; then
    ok "the shadow ($sx0,$sy0)-($sx1,$sy1) lies by the car ($cx0,$cy0)-($cx1,$cy1)"
else
    fail "the shadow ($sx0,$sy0)-($sx1,$sy1) is away from the car ($cx0,$cy0)-($cx1,$cy1)"
fi

press o
back=$(changed "$nocar" car_back) || fail "O again does not bring the car back"
press p
restored=$(changed "$back" shadows_back) || fail "P again does not bring the shadows back"
if [ -n "$restored" ]; then
    line=$("$check" diff "$on" "$restored" 0)
    if [ "$(field count "$line")" = 0 ]; then
        ok "O, O, P, P give back the same frame, byte for byte"
    else
        fail "O, O, P, P do not give back the same frame ($line)"
    fi
fi

# ---- Title keys -------------------------------------------------------------------------------
press f
expect_title "^3D Korvane Demo - FPS: [0-9]+ - 800x600, TF: OFF, AA: 4x, RM: SPEED, $nt" "F"
press 1
expect_title "^3D Korvane Demo - FPS: [0-9]+ - 800x600, TF: OFF, AA: OFF, RM: SPEED, $nt" "1"
press r
expect_title "^3D Korvane Demo - FPS: [0-9]+ - 800x600, TF: OFF, AA: OFF, RM: BOOST, $nt" "R"

# ---- Textures: T ------------------------------------------------------------------------------
before=$(settle before_t) || before=$(shot before_t)
press t
if notex=$(changed "$before" textures_off); then
    ok "T (textures off) changes the picture ($("$check" diff "$before" "$notex"))"
else
    fail "T does not change the picture"
fi
press t
changed "${notex:-$before}" textures_on >/dev/null || fail "T again does not change the picture"

# ---- Resolution: 5 ----------------------------------------------------------------------------
press 5
expect_title "^3D Korvane Demo - FPS: [0-9]+ - 400x300, TF: OFF, AA: OFF, RM: BOOST, $nt" "5"
geometry=$("$xdotool" getwindowgeometry "$wid" | sed -n 's/.*Geometry: *//p')
if [ "$geometry" = 400x300 ]; then
    ok "the window is 400x300 on screen"
else
    fail "the window is $geometry on screen, not 400x300"
fi
if ! small=$(settle small); then
    fail "the picture does not settle at 400x300"
    small=$(shot small)
fi

# ---- Mouse: drag and wheel --------------------------------------------------------------------
"$xdotool" mousemove --window "$wid" 150 150
sleep 0.2
"$xdotool" mousedown 1
sleep 0.1
for x in 170 190 210 230; do
    "$xdotool" mousemove --window "$wid" "$x" 160
    sleep 0.05
done
"$xdotool" mouseup 1
if dragged=$(changed "$small" dragged settle); then
    ok "a left drag turns the camera ($("$check" diff "$small" "$dragged"))"
else
    fail "a left drag does not change the picture"
    dragged=$small
fi

"$xdotool" mousemove --window "$wid" 200 150
"$xdotool" click 4 click 4
if zoomed=$(changed "$dragged" wheel_in settle); then
    ok "the wheel zooms ($("$check" diff "$dragged" "$zoomed"))"
else
    fail "the wheel does not change the picture"
    zoomed=$dragged
fi
"$xdotool" click 5
if unzoomed=$(changed "$zoomed" wheel_out settle); then
    zoomed=$unzoomed
else
    fail "the wheel back does not change the picture"
fi

# ---- Space restarts the light -----------------------------------------------------------------
press space
if line=$(moves "$zoomed" restarted 20); then
    ok "Space restarts the light ($line)"
else
    fail "the picture stays the same after Space should restart the light"
fi

# ---- One Escape ends the program --------------------------------------------------------------
press Escape
ended=
for _ in $(seq "$(ticks 50)"); do
    if ! kill -0 "$demo_pid" 2>/dev/null; then
        ended=1
        break
    fi
    sleep 0.1
done
if [ -n "$ended" ]; then
    wait "$demo_pid"
    status=$?
    demo_pid=
    if [ "$status" = 0 ]; then
        ok "one Escape ends the demo with status 0"
    else
        fail "the demo ended with status $status after Escape"
    fi
else
    fail "the demo is still running $((5 * slow)) s after one Escape"
fi

show_stderr
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed; screenshots and the demo's stderr are in $out"
    exit 1
fi
echo "all checks passed; screenshots are in $out"
