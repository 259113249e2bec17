# The screen after start, after scrolling and after a click equals a fresh
# paint of the same state.
start_demo
expect_fresh "the start"
xdotool mousemove "$((left + 200))" "$(row 5)" click 5
expect_offset -54
expect_fresh "a wheel notch"
click 100 "$(row 2)"
expect "^focus item 1.5 column 0$"
expect_fresh "a click on a row"
stop_demo
