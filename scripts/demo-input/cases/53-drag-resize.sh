# The window shrunk under a node drag's picture: the rows there are gone from
# the screen, and once the drag ends nothing of them or of the picture is left
# where the window no longer lies.
start_demo
x=$((left + 90))
xdotool mousemove "$x" "$(row 3)"
sleep 0.3
xdotool mousedown 1
glide "$x" "$(row 3)" "$((left + 300))" "$(row 15)"
sleep 0.3
mark=$(lines)
xdotool windowsize "$wid" 300 200
expect_after "$mark" "^tree size 300 200$"
# expect_fresh and the checks below take the new size.
# shellcheck disable=SC2034
read -r width height header < <(ask layout)
expect_fresh "the window shrunk during a node drag"
glide "$((left + 300))" "$(row 15)" "$((left + 100))" "$(row 4)"
expect_fresh "a node drag back over the shrunk window"
xdotool key Escape
sleep 0.3
xdotool mouseup 1
expect_fresh "the drag over the shrunk window cancelled"
# Where the window was and is no more, the screen shows the bare root again.
right="$((left + 310)) $((top - header)) $((left + 620)) $((top + 380))"
below="$left $((top + height + 30)) $((left + 310)) $((top + 380))"
# shellcheck disable=SC2086
for _ in $(seq 30); do
  shot after
  [ "$(field "$(pixels after $right)" lit)" = 0 ] && [ "$(field "$(pixels after $below)" lit)" = 0 ] && break
  sleep 0.1
done
# shellcheck disable=SC2086
{ [ "$(field "$(pixels after $right)" lit)" = 0 ] && [ "$(field "$(pixels after $below)" lit)" = 0 ]; } ||
  fail "the drag left pieces of rows where the window was ($(pixels after $right); $(pixels after $below))"
stop_demo
