# A middle click starts wheel panning: its picture shows on the screen centred
# on the press, shaped to its arrows (the corners show the rows through it);
# the pointer moved below it scrolls the tree; a click ends it, and the
# picture and the panning cursor go.
start_demo
px=$((left + 300))
py=$(row 10)
box="$((px - 16)) $((py - 16)) $((px + 15)) $((py + 15))"
xdotool mousemove "$px" "$py"
sleep 0.3
shot before
arrow_cursor=$(xcursor)
xdotool click 2
# shellcheck disable=SC2086
for _ in $(seq 50); do
  shot panning
  [ "$(differ before panning $box)" -gt 20 ] && break
  sleep 0.1
done
# shellcheck disable=SC2086
[ "$(differ before panning $box)" -gt 20 ] || fail "no panning picture at the press point"
# shellcheck disable=SC2086
[ "$(differ before panning 0 0 1023 767)" = "$(differ before panning $box)" ] ||
  fail "the panning picture shows away from the press point"
[ "$(colour panning "$px" "$py")" = 000000 ] || fail "the panning picture is not centred on the press"
for corner in "-16 -16" "10 -16" "-16 10" "10 10"; do
  read -r cx cy <<<"$corner"
  [ "$(differ before panning $((px + cx)) $((py + cy)) $((px + cx + 5)) $((py + cy + 5)))" = 0 ] ||
    fail "the panning picture is not shaped: its corner at $cx $cy hides the rows"
done
xdotool mousemove "$px" "$((py + 60))"
for _ in $(seq 100); do [ "$(offset)" -lt -100 ] && break; sleep 0.1; done
[ "$(offset)" -lt -100 ] || fail "the pointer below the panning picture does not scroll"
xdotool mousemove "$px" "$py"
expect_fresh "panning back at its start"
[ "$(colour shown "$px" "$py")" = 000000 ] || fail "the panning picture did not stay at the press point"
xdotool click 1
expect_fresh "panning ended"
# The pointer has not moved since: its cursor is the arrow again, on screen too.
for _ in $(seq 50); do
  [ "$(ask cursor)" = arrow ] && [ "$(xcursor)" = "$arrow_cursor" ] && break
  sleep 0.1
done
{ [ "$(ask cursor)" = arrow ] && [ "$(xcursor)" = "$arrow_cursor" ]; } ||
  fail "after panning the cursor is \"$(ask cursor)\" (on screen: $(xcursor)), not the arrow"
stop_demo
