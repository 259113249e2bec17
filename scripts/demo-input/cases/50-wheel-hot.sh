# The wheel under a resting pointer moves other rows under it: the node now
# under it is the hot one, and the cursor on screen says so without the mouse
# moving (the hand over a hot node, the arrow over an indentation).
start_demo
xdotool mousemove "$((left + 200))" "$(row 5)" click 5
expect_offset -54
# Left of item 1.3's check box lies its indentation, where group 1's caption
# will lie once the tree is back at its top.
x=$((left + 30))
y=$(row 0)
expect_cursor "$x" "$y" arrow none "over an indentation"
arrow_cursor=$(xcursor)
# Waits (5 s) without a move until the layer's cursor is $1 and the X server
# shows the arrow ($2 = arrow) or another cursor ($2 = other).
resting_cursor() {
  local seen x shown
  for _ in $(seq 50); do
    seen=$(ask cursor)
    x=$(xcursor)
    shown=other
    [ "$x" = "$arrow_cursor" ] && shown=arrow
    if [ "$seen" = "$1" ] && { [ "$x" = none ] || [ "$shown" = "$2" ]; }; then return 0; fi
    sleep 0.1
  done
  fail "after the wheel under a resting pointer the cursor is \"$seen\" (on screen: $x), not \"$1\""
}
xdotool click 4
expect_offset 0
resting_cursor hand other
expect_fresh "the wheel up under a resting pointer"
xdotool click 5
expect_offset -54
resting_cursor arrow arrow
expect_fresh "the wheel down under a resting pointer"
stop_demo
