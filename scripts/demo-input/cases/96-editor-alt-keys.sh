# Alt with a letter in the caption editor is a menu key, as in any text box:
# it types nothing. The clipboard keys work by their place in the Russian
# layout too.
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
mark=$(lines)
xdotool key F2
sleep 0.3
xdotool key --delay 60 End alt+f alt+shift+g Return
sleep 0.5
refuse_after "$mark" "^edited " "Alt with a letter typed it"
expect_fresh "Alt with letters in the editor"
trap "setxkbmap -layout us" EXIT
setxkbmap -layout ru
sleep 0.3
xdotool key F2
sleep 0.3
# Ctrl+C, End, Ctrl+V, Ctrl+A, Ctrl+X, Ctrl+V twice: the caption doubled, doubled again.
xdotool key --delay 60 ctrl+Cyrillic_es End ctrl+Cyrillic_em ctrl+Cyrillic_ef ctrl+Cyrillic_che \
  ctrl+Cyrillic_em ctrl+Cyrillic_em Return
setxkbmap -layout us
expect_after "$mark" '^edited item 1.2 column 0 "item 1.2item 1.2item 1.2item 1.2"$'
expect_fresh "the clipboard keys in the Russian layout"
stop_demo
