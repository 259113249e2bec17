# A node dragged to the tree's lower edge and held there still scrolls the
# tree after the auto-scroll delay; held in the middle it scrolls no more;
# held at the upper edge it scrolls back.
start_demo
first_row="$left $top $((left + 200)) $((top + 17))"
shot before
x=$((left + 90))
xdotool mousemove "$x" "$(row 3)"
sleep 0.3
xdotool mousedown 1
edge=$((top + height - 6))
glide "$x" "$(row 3)" "$x" "$edge"
# shellcheck disable=SC2086
for _ in $(seq 100); do
  shot held
  [ "$(differ before held $first_row)" -gt 50 ] && break
  sleep 0.1
done
# shellcheck disable=SC2086
[ "$(differ before held $first_row)" -gt 50 ] || fail "a node held at the lower edge does not scroll the tree"
[ "$(offset)" -lt 0 ] || fail "the rows moved, yet the offset is $(offset)"
glide "$x" "$edge" "$x" "$(row 10)"
expect_fresh "a drag that scrolled, back in the middle"
held=$(offset)
sleep 1.5
[ "$(offset)" = "$held" ] || fail "a node held in the middle scrolls the tree ($held, then $(offset))"
shot middle
glide "$x" "$(row 10)" "$x" "$((top + 5))"
# shellcheck disable=SC2086
for _ in $(seq 100); do
  shot top
  [ "$(differ middle top $first_row)" -gt 50 ] && [ "$(offset)" -gt "$held" ] && break
  sleep 0.1
done
[ "$(offset)" -gt "$held" ] || fail "a node held at the upper edge does not scroll the tree back"
glide "$x" "$((top + 5))" "$x" "$(row 10)"
expect_fresh "a drag that scrolled back, in the middle"
xdotool key Escape
sleep 0.3
xdotool mouseup 1
expect_fresh "the scrolled drag cancelled"
stop_demo
