# The caption editor as a person uses it: F2 opens it with the text selected
# and a blinking caret; cursor keys, Shift selections, the mouse and the
# clipboard keys (the desktop's clipboard) edit it; the box grows with the
# text; the I-beam shows over it.
start_demo
y0=$((top + 9)) # the middle of row 0, where the box lies
# Black pixels on the box's top edge: its width.
box_width() { shot box; field "$(pixels box "$left" "$top" "$((left + width))" "$((top + 1))")" black; }
# Whether the box shows a selection: dark pixels that are not black (the text
# and the frame are black, the selection's background is not).
selected() {
  shot sel
  local p
  p=$(pixels sel "$((left + 20))" "$((top + 2))" "$((left + width))" "$((top + 16))")
  [ "$(field "$p" dark)" -gt "$(field "$p" black)" ]
}
unselected() { ! selected; }
clipboard_is() { [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
# Waits (at most 3 s) until the command succeeds.
within() { for _ in $(seq 30); do "$@" && return 0; sleep 0.1; done; return 1; }
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
xdotool mousemove "$((left + 200))" "$(row 3)"
arrow_shape=$(xcursor)
xdotool key F2
for _ in $(seq 30); do [ "$(box_width)" -gt 20 ] && break; sleep 0.1; done
opened=$(box_width)
[ "$opened" -gt 20 ] || fail "F2 shows no editor"
selected || fail "the text is not selected when the editor opens"
box_black() { shot box; field "$(pixels box "$((left + 20))" "$((top + 2))" "$((left + width))" "$((top + 16))")" black; }
# Typing replaces the selected text.
xdotool type --delay 30 "boiler"
within unselected || fail "typing left a selection"
# The caret blinks: the box alternates while nothing else happens.
seen=""
for _ in $(seq 12); do seen="$seen $(box_black)"; sleep 0.1; done
[ "$(echo "$seen" | tr ' ' '\n' | sort -u | grep -c .)" -ge 2 ] || fail "no caret blinks in the box ($seen)"
# Home and Shift+End select by keys; Ctrl+C copies to the desktop's clipboard.
xdotool key Home shift+End
within selected || fail "Shift+End selected nothing"
xdotool key ctrl+c
within clipboard_is boiler || fail "Ctrl+C put \"$(xclip -o -selection clipboard)\" on the clipboard"
# End, then Shift+Left selects backwards; typing replaces it.
xdotool key End
xdotool type --delay 30 " room"
xdotool key shift+Left shift+Left shift+Left shift+Left
within selected || fail "Shift+Left selected nothing"
xdotool type --delay 30 "site"
# Text another program put on the clipboard pastes with Ctrl+V and Shift+Ins.
printf ' flow' | xclip -selection clipboard
xdotool key End ctrl+v
printf '!' | xclip -selection clipboard
xdotool key shift+Insert
# The box grows with the text, within the tree.
xdotool type --delay 10 "wwwwwwwwwwwwwwwwwwww"
wide() { [ "$(box_width)" -gt $((opened + 100)) ]; }
within wide
grown=$(box_width)
[ "$grown" -gt $((opened + 100)) ] && [ "$grown" -le "$width" ] || fail "the box is $grown wide for a long text (at first $opened)"
# Ctrl+A selects all; Home ends the selection; a double click selects a word.
xdotool key ctrl+a
within selected || fail "Ctrl+A selected nothing"
xdotool key Home
within unselected || fail "Home kept the selection"
xdotool mousemove "$((left + 32))" "$y0" click --repeat 2 --delay 80 1
within selected || fail "a double click selected no word"
xdotool type --delay 30 "hot "
# A drag from the box's left selects; Shift+Del cuts it to the clipboard.
xdotool mousemove "$((left + 24))" "$y0" mousedown 1
glide "$((left + 24))" "$y0" "$((left + 50))" "$y0"
xdotool mouseup 1
within selected || fail "a drag selected nothing"
clipboard_is '!' || fail "the clipboard does not hold what was put there"
xdotool key shift+Delete
within unselected || fail "Shift+Del left the selection"
clipboard_is '!' && fail "Shift+Del cut nothing to the clipboard"
# The I-beam over the box.
expect_cursor "$((left + 60))" "$y0" "system 32513" "$arrow_shape" "over the editor"
xdotool key Return
expect "^edited group 1 column 0 \".*site flow!wwwwwwwwwwwwwwwwwwww\"$"
grep -q "^edited group 1 column 0 \"hot site" "$log" && fail "Shift+Del cut nothing from the text"
expect_fresh "an edit"
# A click elsewhere ends an edit keeping its text, and the click goes on to its row.
xdotool key F2
within selected || fail "F2 again shows no selected text"
xdotool type --delay 30 "north"
mark=$(lines)
click 60 "$(row 3)"
expect_after "$mark" '^edited group 1 column 0 "north"$'
expect_after "$mark" "^focus item 1.3 column 0$"
expect_fresh "an edit ended by a click elsewhere"
stop_demo
