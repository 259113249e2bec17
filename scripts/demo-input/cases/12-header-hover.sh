# Hot tracking in the header: the caption under the pointer is highlighted
# (not the one it came from), and nothing stays highlighted once the pointer
# has left the window.
start_demo
y=$((top - header / 2))
shot plain
xdotool mousemove "$((left + 100))" "$(row 3)"
glide "$((left + 100))" "$(row 3)" "$((left + 40))" "$y"
name="$((left + 4)) $((top - header + 3)) $((left + 60)) $((top - 3))"
level="$((left + 264)) $((top - header + 3)) $((left + 320)) $((top - 3))"
settled over-name $name
# shellcheck disable=SC2086
[ "$(differ plain over-name $name)" -gt 0 ] || fail "the caption under the pointer is not highlighted"
glide "$((left + 40))" "$y" "$((left + 290))" "$y"
settled over-level $level
# shellcheck disable=SC2086
[ "$(differ plain over-level $name)" = 0 ] || fail "the caption the pointer left stays highlighted"
# shellcheck disable=SC2086
[ "$(differ plain over-level $level)" -gt 0 ] || fail "the caption under the pointer is not highlighted"
glide "$((left + 290))" "$y" "$((left + 290))" "$((top - header - 60))"
settled gone $level
# shellcheck disable=SC2086
[ "$(differ plain gone $level)" = 0 ] || fail "the highlight stays after the pointer left the window"
expect_fresh "hovering over the header"
stop_demo
