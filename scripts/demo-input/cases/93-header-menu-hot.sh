# The header's popup menu takes the pointer from the caption it opened over:
# however the menu closes (Escape, a click elsewhere, a choice), no caption
# stays hot once the pointer has gone on to the rows.
start_demo
y=$((top - header / 2))
level=$((left + 290))
for how in Escape click choice; do
  glide "$((left + 100))" "$(row 6)" "$level" "$y"
  sleep 0.3
  mark=$(lines)
  xdotool click 3
  expect_after "$mark" "^popup at "
  sleep 0.5
  case "$how" in
  Escape) xdotool key Escape ;;
  click) xdotool mousemove "$((left + 200))" "$(row 8)" click 1 ;;
  choice) xdotool key --delay 80 Down Down Down Return ;;
  esac
  expect_after "$mark" "^popup closed "
  glide "$level" "$y" "$((left + 100))" "$(row 6)"
  expect_fresh "the header's menu closed by $how"
done
stop_demo
