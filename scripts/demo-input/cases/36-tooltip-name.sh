# A tool tip over a caption its column cuts off shows the whole caption
# where the row's text lies: the tip's text covers the cut-off text pixel
# for pixel, also in the Name column, where the text starts after the indent
# and the check box.
start_demo
xdotool mousemove "$((left + 200))" "$(row 12)"
sleep 0.3
shot wide
tip() { # region $1 = picture; the text part of row 2 from x $2 to $3
  pixels "$1" "$((left + $2))" "$(($(row 2) - 6))" "$((left + $3))" "$(($(row 2) + 6))"
}
# The Name column narrowed to 60 pixels: item 1.2's caption is hidden behind the next column.
divider=$((left + 260))
xdotool mousemove "$divider" "$((top - header / 2))" mousedown 1
glide "$divider" "$((top - header / 2))" "$((left + 60))" "$((top - header / 2))"
xdotool mouseup 1
expect "^column 0 width 60$"
xdotool mousemove "$((left + 200))" "$(row 12)"
sleep 0.3
shot narrow
[ "$(field "$(tip narrow 62 105)" dark)" != "$(field "$(tip wide 62 105)" dark)" ] ||
  fail "the narrowed column still shows the caption"
xdotool mousemove "$((left + 45))" "$(row 2)" mousemove "$((left + 46))" "$(row 2)"
for _ in $(seq 50); do
  shot tip
  [ "$(differ narrow tip "$((left + 62))" "$(($(row 2) - 6))" "$((left + 105))" "$(($(row 2) + 6))")" -gt 100 ] && break
  sleep 0.1
done
[ "$(field "$(tip tip 62 105)" dark)" = "$(field "$(tip wide 62 105)" dark)" ] ||
  fail "the tool tip does not show the caption where the row's text lies ($(tip tip 62 105) against $(tip wide 62 105))"
[ "$(field "$(tip tip 62 105)" lit)" = "$(field "$(tip wide 62 105)" lit)" ] ||
  fail "the tool tip's text is not the caption's ($(tip tip 62 105))"
xdotool mousemove "$((left + 200))" "$(row 12)"
expect_fresh "a tool tip over the Name column"
stop_demo
