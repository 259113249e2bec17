# Captions typed in another script are logged as UTF-8, as they show. Typed
# in the Russian layout, where each of these characters has its key.
trap "setxkbmap -layout us" EXIT
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
setxkbmap -layout ru
sleep 0.3
# F2, the text typed at the end of the caption or over it, Return.
edit() {
  xdotool key F2
  sleep 0.3
  [ "$1" = over ] || xdotool key End
  xdotool type --delay 40 "$2"
  xdotool key Return
}
mark=$(lines)
edit over "Щёлково"
expect_after "$mark" '^edited item 1.2 column 0 "Щёлково"$'
expect_fresh "a Russian caption typed"
mark=$(lines)
edit end " ёлки, Ъ"
expect_after "$mark" '^edited item 1.2 column 0 "Щёлково ёлки, Ъ"$'
expect_fresh "Russian text typed after it"
setxkbmap -layout us
stop_demo
