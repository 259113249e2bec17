# A drop of several nodes logs each one by the caption it showed and the
# place it went to once all have moved.
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
xdotool keydown shift
click 60 "$(row 4)"
xdotool keyup shift
expect "^selection .* count 3$"
# Items 1.2 to 1.4 onto item 1.10, which is item 1.7 once they have left.
drag() {
  xdotool mousemove "$((left + 80))" "$(row "$1")" mousedown 1
  glide "$((left + 80))" "$(row "$1")" "$((left + 87))" "$(row "$2")"
  sleep 0.3
  xdotool mouseup 1
}
mark=$(lines)
drag 3 10
expect_after "$mark" "^moved item 1.4 onto item 1.10 as item 1.7.3$"
moves=$(tail -n "+$((mark + 1))" "$log" | grep "^moved ")
[ "$moves" = "moved item 1.2 onto item 1.10 as item 1.7.1
moved item 1.3 onto item 1.10 as item 1.7.2
moved item 1.4 onto item 1.10 as item 1.7.3" ] || fail "the drop of three items is logged as: $moves"
expect_fresh "three items dropped on another"
# Everything shown selected (the groups, group 1's items and the three under
# item 1.7), dropped on item 1.5: the groups but the first (its parent) go
# under it, in their order.
mark=$(lines)
xdotool key ctrl+a
expect_after "$mark" "^selection none count 1999$"
mark=$(lines)
drag 1 5
expect_after "$mark" "^moved group 1000 onto item 1.5 as item 1.5.999$"
moves=$(tail -n "+$((mark + 1))" "$log" | grep "^moved ")
[ "$(echo "$moves" | wc -l)" = 999 ] || fail "$(echo "$moves" | wc -l) moves logged for 999 groups"
expected=$(for g in $(seq 2 1000); do echo "moved group $g onto item 1.5 as item 1.5.$((g - 1))"; done)
[ "$moves" = "$expected" ] || fail "the groups' moves are logged as: $(echo "$moves" | head -n 3) ..."
expect_fresh "everything dropped on one item"
stop_demo
