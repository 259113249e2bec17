# The side buttons (8 and 9) are buttons of their own that the tree takes no
# action on: they neither select, nor draw a rubber band, nor open the editor.
start_demo
click 60 "$(row 0)"
expect "^selection group 1 count 1$"
mark=$(lines)
for b in 8 9; do
  xdotool mousemove "$((left + 60))" "$(row 3)" click "$b"
  # A second click on the focused row would open the editor.
  xdotool mousemove "$((left + 60))" "$(row 0)" click "$b"
  sleep 0.8
  xdotool click "$b"
  sleep 0.8
  # Dragged from empty space it would draw a band.
  xdotool mousemove "$((left + 200))" "$(row 2)" mousedown "$b"
  glide "$((left + 200))" "$(row 2)" "$((left + 60))" "$(row 6)"
  expect_fresh "dragging with button $b"
  xdotool mouseup "$b"
done
sleep 0.5
refuse_after "$mark" "^focus \|^selection \|^edited \|^checked " "a side button acted on the tree"
expect_fresh "side-button clicks"
# The left button still works after them.
click 60 "$(row 2)"
expect_after "$mark" "^focus item 1.2 column 0$"
stop_demo
