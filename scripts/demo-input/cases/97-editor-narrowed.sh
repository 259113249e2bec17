# The caption editor, grown with its text to the tree's right edge, stays
# within the tree when the window narrows: the scroll bar shows as it does
# without the editor.
start_demo
narrow() {
  local mark
  mark=$(lines)
  xdotool windowsize "$wid" "$1" "$2"
  expect_after "$mark" "^tree size $1 $2$"
  read -r width height header < <(ask layout)
}
# The vertical scroll bar beside the first six rows.
strip() { echo "$((left + width)) $top $((left + width + 17)) $((top + 6 * 18))"; }
narrow 400 300
# shellcheck disable=SC2046
settled plain $(strip)
narrow 640 420
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
xdotool key F2
sleep 0.3
xdotool type --delay 5 "a long caption that runs well past the right edge of the tree window"
narrow 400 300
# shellcheck disable=SC2046
settled editing $(strip)
# shellcheck disable=SC2046
[ "$(differ plain editing $(strip))" = 0 ] || fail "the editor covers the scroll bar of the narrowed tree"
xdotool key Return
expect '^edited item 1.2 column 0 "a long caption that runs well past the right edge of the tree window"$'
expect_fresh "an edit in a narrowed window"
stop_demo
