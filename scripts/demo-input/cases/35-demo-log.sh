# The demo's log says what a person saw: no "expanded" for a leaf (nothing
# opens), no move for a column dropped next to itself, and a drop names its
# target by the caption it showed when dropped on.
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
mark=$(lines)
xdotool key KP_Add
xdotool mousemove "$((left + 60))" "$(row 3)" click --repeat 2 --delay 80 1
expect_after "$mark" "^focus item 1.3 column 0$"
sleep 0.5
refuse_after "$mark" "^expanded item" "it logs \"expanded\" for a leaf"
expect_fresh "keypad plus and a double click on leaves"
# Level dropped on the left half of Value, next to itself: it stays.
grab=$((top - header / 2))
mark=$(lines)
xdotool mousemove "$((left + 330))" "$grab" mousedown 1
glide "$((left + 330))" "$grab" "$((left + 420))" "$grab"
xdotool mouseup 1
expect_after "$mark" "^column 1 stays at 1$"
refuse_after "$mark" "^column 1 moved from 1 to 1$" "it logs a move of a column that stayed"
# Group 4 dropped on group 6 (its caption then) is named so, though group 6 is the fifth afterwards.
click 9 "$(row 0)"
expect "^collapsed group 1$"
mark=$(lines)
xdotool mousemove "$((left + 50))" "$(row 3)" mousedown 1
glide "$((left + 50))" "$(row 3)" "$((left + 57))" "$(row 5)"
sleep 0.3
xdotool mouseup 1
expect_after "$mark" "^moved group 4 onto group 6 as item 5.1000$"
stop_demo
