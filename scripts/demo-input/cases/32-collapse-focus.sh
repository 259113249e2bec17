# Closing the group of the focused node moves the focus onto the group: its
# caption gets the focus frame, and the next Down goes to the next group
# instead of opening the group again.
start_demo
shot before
click 60 "$(row 3)"
expect "^focus item 1.3 column 0$"
xdotool mousemove "$((left + 200))" "$(row 12)"
mark=$(lines)
click 9 "$(row 0)"
expect_after "$mark" "^collapsed group 1$"
expect_fresh "closing the focused node's group"
shot collapsed
caption() { field "$(pixels "$1" "$((left + 20))" "$(($(row 0) - 9))" "$((left + 90))" "$(($(row 0) + 8))")" dark; }
[ "$(caption collapsed)" -ge $(($(caption before) + 20)) ] || fail "no focus frame on the closed group"
xdotool key Down
expect_after "$mark" "^focus group 2 column 0$"
expect_fresh "Down after closing the group"
shot down
for r in 0 1; do
  [ "$(differ collapsed down "$((left + 2))" "$(($(row $r) - 7))" "$((left + 16))" "$(($(row $r) + 7))")" = 0 ] ||
    fail "Down opened the closed group again (row $r's button changed)"
done
stop_demo
