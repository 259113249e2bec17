# A scroll-bar arrow held down shows pressed while it repeats, and raised
# again once released.
start_demo
arrow_box="$((left + width + 1)) $((top + height - arrow + 1)) $((left + width + arrow - 1)) $((top + height - 1))"
shot before
xdotool mousemove "$bar" "$((top + height - 8))" mousedown 1
sleep 0.6
shot held
xdotool mouseup 1
expect_fresh "a held arrow released"
shot after
# shellcheck disable=SC2086
[ "$(differ before held $arrow_box)" -gt 20 ] || fail "the held arrow does not look pressed"
# shellcheck disable=SC2086
[ "$(differ before after $arrow_box)" = 0 ] || fail "the released arrow still looks pressed"
stop_demo
