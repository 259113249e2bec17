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
# The cursor the layer has and the X server shows, without a move, within 5 s.
resting_cursor() {
  local seen x
  for _ in $(seq 50); do
    seen=$(ask cursor)
    x=$(xcursor)
    if [ "$seen" = "$1" ] && { [ "$x" = none ] || [ "$x" "$2" "$arrow_cursor" ]; }; then return 0; fi
    sleep 0.1
  done
  fail "after the wheel under a resting pointer the cursor is \"$seen\" (on screen: $x), not \"$1\""
}
xdotool click 4
expect_offset 0
resting_cursor hand !=
expect_fresh "the wheel up under a resting pointer"
xdotool click 5
expect_offset -54
resting_cursor arrow =
expect_fresh "the wheel down under a resting pointer"
stop_demo
