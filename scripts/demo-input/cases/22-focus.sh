# Another X client taking the keyboard: the selection shows unfocused and an
# open editor ends, keeping its text; the focus coming back shows it focused.
start_demo
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
focused=$(colour_at 60 0)
xlogo -geometry 60x60+900+680 &
other_pid=$!
trap 'kill "$other_pid" 2>/dev/null || true' EXIT
other=$(timeout 10 xdotool search --sync --onlyvisible --class xlogo | head -n1)
[ -n "$other" ] || fail "no second X client"
xdotool windowfocus --sync "$other"
shot away
for _ in $(seq 30); do [ "$(colour_at 60 0)" != "$focused" ] && break; sleep 0.1; done
unfocused=$(colour_at 60 0)
[ "$unfocused" != "$focused" ] && [ "$unfocused" != FFFFFF ] ||
  fail "with the keyboard elsewhere the selection shows $unfocused (focused: $focused)"
expect_fresh "losing the keyboard"
# The keyboard back: the selection shows focused again.
xdotool windowfocus --sync "$wid"
for _ in $(seq 30); do [ "$(colour_at 60 0)" = "$focused" ] && break; sleep 0.1; done
[ "$(colour_at 60 0)" = "$focused" ] || fail "with the keyboard back the selection shows $(colour_at 60 0)"
# An open editor ends when the keyboard goes elsewhere, keeping what was typed:
# its box goes (no black top edge over the row) and the caption is the new one.
xdotool key F2
sleep 0.3
xdotool type --delay 30 "hot"
edge() { shot edge; field "$(pixels edge "$left" "$top" "$((left + width))" "$((top + 1))")" black; }
[ "$(edge)" -gt 20 ] || fail "F2 shows no editor"
mark=$(lines)
xdotool windowfocus --sync "$other"
expect_after "$mark" '^edited group 1 column 0 "hot"$'
for _ in $(seq 30); do [ "$(edge)" -lt 5 ] && break; sleep 0.1; done
[ "$(edge)" -lt 5 ] || fail "the editor stays on screen with the keyboard elsewhere"
expect_fresh "an edit ended by losing the keyboard"
# With the keyboard back, keys reach the tree again.
xdotool windowfocus --sync "$wid"
mark=$(lines)
xdotool key Down
expect_after "$mark" "^focus item 1.1 column 0$"
stop_demo
