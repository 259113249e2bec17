# A column shown again from the header's popup makes the columns wider than
# the window: the horizontal scroll bar that appears shows its thumb at once.
start_demo
hy=$((top - header / 2))
# Shows or hides the column of the popup's entry $1 (1 = Name).
toggle() {
  local mark
  mark=$(lines)
  xdotool mousemove "$((left + 100))" "$hy" click 3
  expect_after "$mark" "^popup at "
  sleep 0.3
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
  expect_after "$mark" "^popup closed"
}
toggle 1
# Level and Value fitted to their texts: Value grows, and with Name back the
# columns no longer fit.
mark=$(lines)
xdotool key ctrl+KP_Add
expect_after "$mark" "^column 2 width "
expect_fresh "fitting the columns with Name hidden"
toggle 1
# expect_fresh and the checks below take the new client size.
for _ in $(seq 50); do
  read -r width height header < <(ask layout)
  [ "$height" -lt 399 ] && break
  sleep 0.1
done
[ "$height" -lt 399 ] || fail "no horizontal scroll bar with every column shown"
# The thumb's dark lower edge runs along most of the bar.
bar_row="$((left + 30)) $((top + height + 1)) $((left + width - 30)) $((top + height + 17))"
# shellcheck disable=SC2086
expect_pixels shown_bar $bar_row dark 200 "the horizontal scroll bar shows no thumb"
expect_fresh "showing Name again"
stop_demo
