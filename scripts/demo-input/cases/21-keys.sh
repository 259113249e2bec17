# Every typed key reaches the tree as a key-down and its character: Cyrillic
# letters (no key code of their own in this layout) and punctuation find a
# Russian caption by its first letters.
trap "setxkbmap -layout us" EXIT
start_demo --russian
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
[ "$(colour_at 80 7)" = FFFFFF ] || fail "row 7 is not blank before the search"
# Typed in the Russian layout, where every one of these keys has its place.
setxkbmap -layout ru
sleep 0.3
xdotool type --delay 50 "т.1.7"
setxkbmap -layout us
for _ in $(seq 50); do [ "$(colour_at 80 7)" = 0A246A ] && break; sleep 0.1; done
[ "$(colour_at 80 7)" = 0A246A ] || fail "typing \"т.1.7\" did not select its row"
expect_fresh "a search for a Russian caption"
stop_demo
