# Captions typed in another script are logged as UTF-8, as they show: typed
# as characters, and in the Russian layout by its own keys.
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
mark=$(lines)
xdotool key F2
sleep 0.3
xdotool type --delay 30 "Щёлково"
xdotool key Return
expect_after "$mark" '^edited item 1.2 column 0 "Щёлково"$'
expect_fresh "a Russian caption typed"
trap "setxkbmap -layout us" EXIT
setxkbmap -layout ru
sleep 0.3
mark=$(lines)
xdotool key F2
sleep 0.3
xdotool key --delay 60 End
xdotool type --delay 30 " ёлки, Ъ"
xdotool key Return
setxkbmap -layout us
expect_after "$mark" '^edited item 1.2 column 0 "Щёлково ёлки, Ъ"$'
expect_fresh "a Russian caption typed in the Russian layout"
stop_demo
