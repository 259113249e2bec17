# A column dropped past the right end of the last column goes last, even when
# the pointer jumps there without crossing the last column's right half.
start_demo
y=$((top - header / 2))
xdotool mousemove "$((left + 100))" "$y" mousedown 1
glide "$((left + 100))" "$y" "$((left + 140))" "$y"
xdotool mousemove "$((left + 600))" "$y"
sleep 0.3
xdotool mousemove "$((left + 601))" "$y"
sleep 0.3
mark=$(lines)
xdotool mouseup 1
expect_fresh "a drop past the last column"
# Level (140 wide) is first now: its rows hold short words, no check boxes.
shot dropped
[ "$(field "$(pixels dropped $((left + 36)) $((top + 18)) $((left + 130)) $((top + 18 * 10)))" dark)" = 0 ] ||
  fail "the column dropped past the end did not go last"
expect_after "$mark" "^column 0 moved from 0 to 2$"
stop_demo
