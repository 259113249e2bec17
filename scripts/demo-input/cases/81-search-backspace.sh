# Backspace during an incremental search takes the last letter back:
# "group 12", Backspace, "3" finds group 13, not group 123. Ctrl+Backspace,
# Return and Escape type control characters that are no search text.
start_demo
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
mark=$(lines)
xdotool type --delay 50 "group 12"
expect_after "$mark" "^focus group 12 column 0$"
xdotool key BackSpace
xdotool type "3"
expect_after "$mark" "^focus group 13 column 0$"
refuse_after "$mark" "^focus group 123 " "Backspace did not shorten the search text"
expect_fresh "a search shortened by Backspace"
# The time-out ends that search; a new one meets control keys on its way.
sleep 1.5
mark=$(lines)
xdotool type --delay 50 "group 4"
xdotool key ctrl+BackSpace Return Escape
xdotool type --delay 50 "5"
expect_after "$mark" "^focus group 45 column 0$"
expect_fresh "a search with control keys typed in it"
stop_demo
