# What the scripts that drive the tree demo share: a virtual X server, the
# demo started on a pipe we hold, its log, and the screen read as the X server
# holds it (XGetImage on the root window: true colours, pop-ups included).
# Sourced by demo-input-test and by each case in scripts/demo-input/cases.
# Needs: $build (the build folder) and $work (a private folder).

demo="$build/app/treedemo/nuq-treedemo"
xcursor_tool="$build/tests/nuq-xcursor" # absent where the X libraries are
xshot="$build/tests/nuq-xshot"
log="$work/demo.log"
demo_pid=""

fail() {
  echo "demo: ${case_name:+[$case_name] }$*" >&2
  echo "--- the demo's log:" >&2
  cat "$log" >&2
  exit 1
}

# A virtual X server on a display number it finds free itself.
start_x() {
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "demo: the virtual X server did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
}

# Starts the demo (arguments go to it) on a pipe held open as fd 3, waits for
# it to show, and reads where its rows lie: $left, $top (the first row's
# top-left corner on the screen), $width, $height (the tree's client area),
# $header (the header's height) and $wid (the native window).
start_demo() {
  local name="${case_name:-demo}"
  log="$work/$name.log"
  rm -f "$work/$name.in"
  mkfifo "$work/$name.in"
  "$demo" "$@" <"$work/$name.in" >"$log" 2>"$work/$name.err" &
  demo_pid=$!
  exec 3>"$work/$name.in"
  expect "^ready "
  read -r _ _ _ _ left top < <(grep "^ready " "$log")
  wid=$(grep -m1 "^window " "$log" | cut -d' ' -f2)
  read -r width height header < <(ask layout)
  # The vertical scroll bar lies right of the client area, from its top down;
  # its arrow buttons are as long as the bar is wide.
  bar=$((left + width + 8))
  arrow=17
}

stop_demo() {
  echo quit >&3
  exec 3>&-
  wait "$demo_pid" || { echo "demo: ${case_name:+[$case_name] }did not end cleanly" >&2; exit 1; }
  demo_pid=""
}

lines() { wc -l <"$log"; }
# Waits until the log holds, after its first $1 lines, a line matching $2 (a
# grep pattern); at most 10 s.
expect_after() {
  for _ in $(seq 100); do
    tail -n "+$(($1 + 1))" "$log" | grep -q -- "$2" && return 0
    sleep 0.1
  done
  fail "no line \"$2\" in its log"
}
expect() { expect_after 0 "$1"; }
# Fails when the log holds, after its first $1 lines, a line matching $2.
refuse_after() {
  if tail -n "+$(($1 + 1))" "$log" | grep -q -- "$2"; then fail "$3"; fi
}
# Asks the demo (a command line) and prints its answer's words after the first.
ask() {
  local mark
  mark=$(lines)
  echo "$1" >&3
  expect_after "$mark" "^${1%% *} "
  tail -n "+$((mark + 1))" "$log" | grep -m1 "^${1%% *} " | cut -d' ' -f2-
}
# The tree's vertical offset, as the last "offset" line says (0 before any).
offset() { { grep "^offset " "$log" || echo "offset 0 0"; } | tail -n1 | cut -d' ' -f3; }

# The screen into $work/$1.ppm.
shot() {
  local _
  for _ in $(seq 20); do
    "$xshot" grab "$work/$1.ppm" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "no screen picture"
}
# What lies in a rectangle of a picture: "dark N black N lit N sum S" (pixels
# darker than mid-grey, pure black, anything but black, and a sum of them all).
pixels() { "$xshot" pixels "$work/$1.ppm" "$2" "$3" "$4" "$5"; }
# How many pixels of the rectangle $3..$6 differ between pictures $1 and $2.
differ() { "$xshot" diff "$work/$1.ppm" "$work/$2.ppm" "$3" "$4" "$5" "$6"; }
# One pixel of a picture as RRGGBB.
colour() { "$xshot" colour "$work/$1.ppm" "$2" "$3"; }
field() { echo "$1" | awk -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }'; }
# Waits until the rectangle $2..$5 of a fresh picture $1 has a field $6
# (dark, black, lit) of at least $7.
expect_pixels() {
  for _ in $(seq 50); do
    shot "$1"
    [ "$(field "$(pixels "$1" "$2" "$3" "$4" "$5")" "$6")" -ge "$7" ] && return 0
    sleep 0.1
  done
  fail "$8"
}
# Takes pictures until two in a row agree on the rectangle $2..$5 (the server
# has shown what the demo painted), into $work/$1.ppm.
settled() {
  local _
  shot "$1"
  for _ in $(seq 30); do
    sleep 0.1
    shot "$1.next"
    if [ "$(differ "$1" "$1.next" "$2" "$3" "$4" "$5")" = 0 ]; then return 0; fi
    mv "$work/$1.next.ppm" "$work/$1.ppm"
  done
  fail "the screen does not settle"
}
# The tree as shown (header, rows and scroll bars) against a fresh paint of
# the same state: the demo repaints everything, and not a pixel may differ.
# $1 names the step for the message.
expect_fresh() {
  local x0=$((left - 2)) y0=$((top - header - 2)) x1=$((left + width + 20)) y1=$((top + height + 20))
  settled shown "$x0" "$y0" "$x1" "$y1"
  ask repaint >/dev/null
  settled fresh "$x0" "$y0" "$x1" "$y1"
  local n
  n=$(differ shown fresh "$x0" "$y0" "$x1" "$y1")
  [ "$n" = 0 ] || fail "after $1 the screen differs from a fresh paint in $n pixels"
}

# The X server's cursor image, when the tool and the server can give it.
xcursor() { if [ -x "$xcursor_tool" ]; then "$xcursor_tool" 2>/dev/null || echo none; else echo none; fi; }
# Waits until the layer's cursor is $3 and the X server shows something other
# than the cursor $4, nor an empty one (skipped where the server shows none),
# while the mouse moves to and fro by a pixel at $1, $2.
expect_cursor() {
  local seen="" x i
  for i in $(seq 50); do
    xdotool mousemove "$(($1 + i % 2))" "$2"
    seen=$(ask cursor)
    x=$(xcursor)
    if [ "$seen" = "$3" ] && { [ "$x" = none ] || { [ "$x" != "$4" ] && [ "$(echo "$x" | cut -d' ' -f5)" != 0 ]; }; }; then
      return 0
    fi
    sleep 0.1
  done
  fail "the cursor is \"$seen\" (on screen: $x), not \"$3\" $5"
}

# Rows are 18 pixels high; the root level's button lies in its first 18 pixels.
row() { echo $((top + 18 * $1 + 9)); }
click() { xdotool mousemove "$((left + $1))" "$2" click 1; }
# Moves the mouse from $1, $2 to $3, $4 in eight steps as a hand would (the
# server may drop a move that comes too close after another).
glide() {
  local i
  for i in 1 2 3 4 5 6 7 8; do
    xdotool mousemove "$(($1 + ($3 - $1) * i / 8))" "$(($2 + ($4 - $2) * i / 8))" sleep 0.03
  done
}
# Waits (at most 10 s) until the tree's offset is $1.
expect_offset() {
  for _ in $(seq 100); do [ "$(offset)" = "$1" ] && return 0; sleep 0.1; done
  fail "the offset is $(offset), not $1"
}
# The colour of a fresh picture at $1 pixels right of the rows' left edge in row $2.
colour_at() { shot at; colour at "$((left + $1))" "$(row "$2")"; }
