# Dragging from empty space draws the selection rectangle, follows the mouse
# without trails (the screen equals a fresh paint meanwhile) and leaves
# nothing behind when the button goes up; the rows it covered are selected.
start_demo
shot before
edge() { field "$(pixels "$1" "$((left + 198))" "$(($(row 2) + 2))" "$((left + 202))" "$(($(row 6) - 2))")" dark; }
[ "$(edge before)" -lt 5 ] || fail "the band's place is not empty before"
xdotool mousemove "$((left + 200))" "$(row 2)" mousedown 1
glide "$((left + 200))" "$(row 2)" "$((left + 60))" "$(row 8)"
glide "$((left + 60))" "$(row 8)" "$((left + 60))" "$(row 6)"
expect_fresh "drawing a rubber band"
shot band
[ "$(edge band)" -ge 20 ] || fail "no rubber band on the screen ($(edge band) dark pixels at its edge)"
xdotool mouseup 1
expect "^selection .* count 5$"
expect_fresh "the end of a rubber band"
shot after
[ "$(edge after)" -lt 5 ] || fail "the rubber band stays on the screen"
# The covered rows (items 1.2 to 1.6) are selected: their captions sit on the selection's colour.
[ "$(differ before after "$((left + 60))" "$(($(row 2) - 7))" "$((left + 100))" "$(($(row 6) + 7))")" -gt 500 ] ||
  fail "the rows under the band do not show selected"
stop_demo
