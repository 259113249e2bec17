# A node drag in a scrolled tree that crosses the header and leaves the window
# above it, scrolling the tree up on the way, then comes back and is cancelled
# with Escape: meanwhile the scroll bar shows the new offset (the screen equals
# a fresh paint), and afterwards nothing of the drag is left.
start_demo
xdotool mousemove "$((left + 200))" "$(row 5)" click 5 click 5
expect_offset -108
x=$((left + 90))
xdotool mousemove "$x" "$(row 4)" mousedown 1
glide "$x" "$(row 4)" "$((x + 30))" "$((top - header / 2))"
sleep 0.5
glide "$((x + 30))" "$((top - header / 2))" "$((x + 40))" "$((top - header - 30))"
sleep 1.5
glide "$((x + 40))" "$((top - header - 30))" "$((x + 20))" "$(row 6)"
[ "$(offset)" -gt -108 ] || fail "the drag over the header did not scroll the tree up"
expect_fresh "a node drag that scrolled the tree from over its header"
xdotool key Escape
sleep 0.3
xdotool mouseup 1
expect_fresh "the drag cancelled with Escape"
stop_demo
