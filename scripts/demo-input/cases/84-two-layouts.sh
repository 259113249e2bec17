# With the Latin and the Russian layout both loaded, keys typed in the
# Russian group act as their places say: Ctrl with a Cyrillic letter is the
# command of the Latin letter on its key (select all, copy, paste), a held
# key repeats, and Cyrillic letters search.
trap "setxkbmap -layout us" EXIT
start_demo --russian
setxkbmap -layout us,ru
sleep 0.3
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
xdotool key F2
sleep 0.3
# Ф, С and М lie on A, C and V.
xdotool key ctrl+Cyrillic_ef ctrl+Cyrillic_es End ctrl+Cyrillic_em
for _ in $(seq 30); do [ "$(xclip -o -selection clipboard 2>/dev/null)" = "Котельная 1" ] && break; sleep 0.1; done
[ "$(xclip -o -selection clipboard 2>/dev/null)" = "Котельная 1" ] ||
  fail "Ctrl+С copied \"$(xclip -o -selection clipboard 2>/dev/null)\", not the whole caption"
expect_fresh "Ctrl with Cyrillic letters in the editor"
mark=$(lines)
xdotool key Return
expect_after "$mark" "^edited group 1 column 0 "
expect_fresh "the edit's end"
# A held arrow repeats in the Russian group too.
mark=$(lines)
xdotool keydown Down
sleep 1.2
xdotool keyup Down
expect_after "$mark" "^focus item 1.5 column 0$"
expect_fresh "holding Down"
# The search runs on from the focused node: from the top it finds т.1.7.
mark=$(lines)
xdotool key Home
expect_after "$mark" "^focus group 1 column 0$"
sleep 1.5
mark=$(lines)
xdotool key --delay 60 Cyrillic_te period 1 period 7
expect_after "$mark" "^focus item 1.7 column 0$"
expect_fresh "a search typed in the Russian group"
stop_demo
