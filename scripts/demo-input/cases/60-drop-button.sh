# A node dropped onto a leaf gives it an expand button: once the drag ends the
# button shows whole, its plus not crossed by the dotted tree lines the drag
# picture's copy of the rows held (that copy must paint the lines in the same
# dot pattern as the window, or the restored pieces stay on the screen).
start_demo
x=$((left + 80))
xdotool mousemove "$x" "$(row 3)" mousedown 1
glide "$x" "$(row 3)" "$((x + 7))" "$(row 6)"
sleep 0.3
mark=$(lines)
xdotool mouseup 1
expect_after "$mark" "^moved item 1.3 onto item 1.6 "
xdotool mousemove "$((left + 300))" "$(row 12)"
# Item 1.6 is in row 5 now; its button lies 23 pixels in, 9 wide, in the
# row's middle: the plus's upright runs down its centre column.
plus="$((left + 27)) $((top + 90 + 7)) $((left + 28)) $((top + 90 + 12))"
# shellcheck disable=SC2086
for _ in $(seq 30); do
  shot dropped
  [ "$(field "$(pixels dropped $plus)" black)" = 5 ] && break
  sleep 0.1
done
# shellcheck disable=SC2086
[ "$(field "$(pixels dropped $plus)" black)" = 5 ] ||
  fail "the new button's plus is crossed by stale tree lines ($(pixels dropped $plus))"
expect_fresh "a drop onto a leaf"
stop_demo
