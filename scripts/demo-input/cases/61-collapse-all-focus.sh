# Ctrl+Shift+keypad-minus closes every group in a scrolled tree: the focus
# moves onto the focused item's group, and the tree shows it there with its
# focus frame instead of leaving it above the rows in sight.
start_demo
caption() { field "$(pixels "$1" "$((left + 20))" "$(($(row 0) - 9))" "$((left + 90))" "$(($(row 0) + 8))")" dark; }
shot before
xdotool mousemove "$((left + 200))" "$(row 5)" click 5 click 5 click 5
expect_offset -162
click 80 "$(row 2)"
expect "^focus item 1.11 column 0$"
mark=$(lines)
xdotool key ctrl+shift+KP_Subtract
expect_after "$mark" "^focus group 1 column 0$"
expect_fresh "closing every group"
shot closed
[ "$(caption closed)" -ge $(($(caption before) + 32)) ] ||
  fail "the focused group 1 is not in sight with its focus frame ($(caption before) dark pixels before, $(caption closed) now)"
stop_demo
