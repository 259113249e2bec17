# Pasting an empty clipboard into the caption editor changes nothing: the
# selected caption stays, and Return stores nothing.
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
xclip -selection clipboard -i /dev/null
mark=$(lines)
for paste in ctrl+v shift+Insert; do
  xdotool key F2
  sleep 0.3
  xdotool key --delay 60 "$paste" Return
  sleep 0.5
  refuse_after "$mark" "^edited " "$paste with an empty clipboard changed the caption"
  expect_fresh "$paste with an empty clipboard"
done
# The caption is still whole: what follows it is typed after it.
xdotool key F2
sleep 0.3
xdotool key --delay 60 ctrl+v End
xdotool type --delay 30 "!"
xdotool key Return
expect_after "$mark" '^edited item 1.2 column 0 "item 1.2!"$'
expect_fresh "an edit after pasting nothing"
stop_demo
