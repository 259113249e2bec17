# Ctrl+keypad-plus fits every column to the rows shown, animated, and the
# window answers at once (it froze for seconds measuring a million nodes, the
# children of collapsed groups included); the screen then equals a fresh paint.
start_demo
click 100 "$(row 3)"
expect_fresh "a click"
shot before
start=$(date +%s%N)
xdotool key ctrl+KP_Add
ask layout >/dev/null
took=$((($(date +%s%N) - start) / 1000000))
[ "$took" -lt 3000 ] || fail "after Ctrl+keypad-plus the window answered only in $took ms"
# The Name column fits its captions: its divider moved left of where it was.
settled fitted $((left - 2)) $((top - header)) $((left + width)) "$top"
[ "$(differ before fitted $((left + 200)) $((top - header)) $((left + 270)) "$top")" -gt 0 ] ||
  fail "the header did not change"
expect_fresh "an auto-fit"
stop_demo
