# A held key repeats as the system repeats it: key-downs alone, then one
# key-up. Held Down moves the focus row after row; a held space bar checks
# the focused item's box once, however long it is held.
# The server repeats held keys as it starts (after 660 ms, 25 a second).
start_demo
click 80 "$(row 1)"
expect "^focus item 1.1 column 0$"
# The server repeats a held key: Down held walks down several rows.
mark=$(lines)
xdotool keydown Down
sleep 1.2
xdotool keyup Down
expect_after "$mark" "^focus item 1.6 column 0$"
expect_fresh "holding Down"
click 80 "$(row 1)"
expect_after "$mark" "^focus item 1.1 column 0$"
# Holds Space for $1 seconds: the box takes the state $2, once.
hold_space() {
  local mark n
  mark=$(lines)
  xdotool keydown space
  sleep "$1"
  xdotool keyup space
  expect_after "$mark" "^checked item 1.1 state $2$"
  sleep 0.5
  n=$(tail -n "+$((mark + 1))" "$log" | grep -c "^checked ")
  [ "$n" = 1 ] || fail "holding Space for $1 s checked the box $n times"
  expect_fresh "holding Space for $1 s"
}
hold_space 1.5 2
hold_space 1 0
stop_demo
