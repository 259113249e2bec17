# The hand shows on the move that reaches a caption and goes on the move that
# leaves it: one move each, then the cursor is asked for with the mouse still.
start_demo
xdotool mousemove "$((left + 200))" "$(row 2)"
sleep 0.3
arrow_cursor=$(xcursor)
[ "$(ask cursor)" = arrow ] || fail "no arrow right of a caption"
xdotool mousemove "$((left + 40))" "$(row 2)"
sleep 0.5
[ "$(ask cursor)" = hand ] || fail "the move onto a caption did not show the hand"
[ "$(xcursor)" = none ] || [ "$(xcursor)" != "$arrow_cursor" ] || fail "the screen shows no hand over a caption"
xdotool mousemove "$((left + 200))" "$(row 2)"
sleep 0.5
[ "$(ask cursor)" = arrow ] || fail "the move off a caption kept the hand"
[ "$(xcursor)" = "$arrow_cursor" ] || fail "the screen keeps the hand off a caption"
stop_demo
