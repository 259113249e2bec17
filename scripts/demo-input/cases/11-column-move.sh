# A column dragged to the left end: its picture shows its caption while it
# moves; once dropped every column paints its own cells in its new place (the
# rows under "Value" kept Name's lines and check boxes), the drop marks seen
# on the way are gone from the header, and an auto-fit then paints right too.
start_demo
y=$((top - header / 2))
xdotool mousemove "$((left + 480))" "$y" mousedown 1
glide "$((left + 480))" "$y" "$((left + 200))" "$y"
# The picture (grabbed 80 pixels into Value) lies over Name's empty right part.
expect_pixels dragging $((left + 120)) $((top - header + 3)) $((left + 200)) $((top - 3)) dark 20 \
  "the dragged column's picture shows no caption"
glide "$((left + 200))" "$y" "$((left + 5))" "$y"
mark=$(lines)
xdotool mouseup 1
expect_after "$mark" "^column 2 moved from 2 to 0$"
expect_fresh "a column move"
# Value (160 wide) is first now: right of its short numbers nothing is drawn,
# where Name's check boxes stood.
shot moved
[ "$(field "$(pixels moved $((left + 36)) $((top + 18)) $((left + 150)) $((top + 18 * 10)))" dark)" = 0 ] ||
  fail "under the moved Value column the old Name cells still show"
# Name's header cell, right of its caption, holds no drop mark.
[ "$(field "$(pixels moved $((left + 200)) $((top - header + 3)) $((left + 410)) $((top - 3)))" dark)" = 0 ] ||
  fail "a drop mark stays in the header after the move"
click 300 "$(row 3)"
xdotool key ctrl+KP_Add
ask layout >/dev/null # the fit is done
expect_fresh "an auto-fit after the move"
stop_demo
