# Keys that type control characters or menu characters type no text into
# the caption editor: Ctrl+Backspace deletes the word before the caret and
# leaves no DEL; Alt with a letter, Tab and Ctrl with [ or 6 type nothing.
start_demo
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
xdotool key F2
sleep 0.3
xdotool key End ctrl+BackSpace alt+a Tab ctrl+bracketleft ctrl+shift+6
xdotool type "x"
expect_fresh "control keys in the editor"
mark=$(lines)
xdotool key Return
expect_after "$mark" '^edited group 1 column 0 "group x"$'
expect_fresh "the edit's end"
stop_demo
