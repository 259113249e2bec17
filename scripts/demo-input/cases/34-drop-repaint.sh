# After a drop, a cancelled drag or a drag that ends outside the tree, the
# rows show what a fresh paint shows: no drop-target highlight, no selection
# left at the old place, nothing of the drag picture; also in a scrolled
# tree, onto a closed group, and with the window resized during the drag.
start_demo
drag() { # from row $1 to row $2, then $3: drop, cancel or out
  xdotool mousemove "$((left + 50))" "$(row "$1")" mousedown 1
  glide "$((left + 50))" "$(row "$1")" "$((left + 57))" "$(row "$2")"
  glide "$((left + 57))" "$(row "$2")" "$((left + 45))" "$(row "$2")"
  sleep 0.3
  case "$3" in
  cancel) xdotool key Escape; sleep 0.3; xdotool mouseup 1 ;;
  out) glide "$((left + 45))" "$(row "$2")" "$((left + width + 60))" "$(row "$2")"; xdotool mouseup 1 ;;
  *) xdotool mouseup 1 ;;
  esac
}
click 9 "$(row 0)"
expect "^collapsed group 1$"
mark=$(lines)
drag 3 5 drop
expect_after "$mark" "^moved group 4 onto group 6 as item 5.1000$"
expect_fresh "a drop on a closed group"
drag 2 6 cancel
expect_fresh "a cancelled drag"
drag 2 6 out
expect_fresh "a drag that ends outside the tree"
# Scrolled a few rows down, a node dropped on a group that is open.
xdotool mousemove "$((left + 200))" "$(row 5)" click 5
expect_offset -54
click 9 "$(row 1)"
expect "^expanded group 5$"
mark=$(lines)
drag 0 1 drop
expect_after "$mark" "^moved group 4 onto group 5 as item 4.1001$"
expect_fresh "a drop in a scrolled tree"
# The window resized while a node is dragged: the drop still leaves it right.
mark=$(lines)
xdotool mousemove "$((left + 50))" "$(row 4)" mousedown 1
glide "$((left + 50))" "$(row 4)" "$((left + 57))" "$(row 7)"
xdotool windowsize "$wid" 600 400
expect_after "$mark" "^tree size 600 400$"
glide "$((left + 57))" "$(row 7)" "$((left + 50))" "$(row 8)"
sleep 0.3
xdotool mouseup 1
read -r width height header < <(ask layout)
expect_fresh "a drop after resizing during the drag"
stop_demo
