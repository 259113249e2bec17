# The Name column hidden from the header's popup: a click on a row focuses the
# Level column, which now comes first, so the row shows selected there (the
# row selected before as well as another one), and F2 edits the Level cell
# in a box lying over that cell, not over the Value column beside it.
start_demo
hy=$((top - header / 2))
click 40 "$(row 0)"
expect "^focus group 1 column 0$"
mark=$(lines)
xdotool mousemove "$((left + 100))" "$hy" click 3
expect_after "$mark" "^popup at "
sleep 0.3
xdotool key Down Return # the popup's first entry: Name
expect_after "$mark" "^popup closed"
# Level now runs from the rows' left edge to 140, Value from 140 on.
level() { # dark pixels of row $2's Level cell in picture $1
  field "$(pixels "$1" "$((left + 2))" "$(($(row "$2") - 7))" "$((left + 130))" "$(($(row "$2") + 7))")" dark
}
xdotool mousemove "$((left + 200))" "$(row 12)"
settled plain "$left" "$top" "$((left + 300))" "$(row 4)"
# The selected row, clicked again: the focus moves off the hidden column.
mark=$(lines)
click 15 "$(row 0)" # on the caption "group"
expect_after "$mark" "^focus group 1 column 1$"
xdotool mousemove "$((left + 200))" "$(row 12)"
expect_fresh "clicking the selected row with Name hidden"
settled one "$left" "$top" "$((left + 300))" "$(row 4)"
[ "$(level one 0)" -gt $(($(level plain 0) + 300)) ] ||
  fail "group 1 shows no selection in the Level column ($(level one 0) dark pixels, $(level plain 0) before)"
# Another row (group 1 is open: item 1.2).
mark=$(lines)
click 15 "$(row 2)"
expect_after "$mark" "^focus item 1.2 column 1$"
xdotool mousemove "$((left + 200))" "$(row 12)"
expect_fresh "clicking another row with Name hidden"
settled two "$left" "$top" "$((left + 300))" "$(row 4)"
[ "$(level two 2)" -gt $(($(level plain 2) + 300)) ] ||
  fail "item 1.2 shows no selection in the Level column ($(level two 2) dark pixels, $(level plain 2) before)"
[ "$(level two 0)" -lt $(($(level plain 0) + 50)) ] || fail "group 1 still shows selected"
# F2: the box lies over the Level cell, its top edge black from its left on.
edge() { # black pixels of row 2's top edge from x $2 to $3 in a fresh picture $1
  shot "$1"
  field "$(pixels "$1" "$((left + $2))" "$((top + 36))" "$((left + $3))" "$((top + 37))")" black
}
xdotool key F2
for _ in $(seq 30); do [ "$(edge box 0 140)" -gt 20 ] && break; sleep 0.1; done
[ "$(edge box 0 140)" -gt 20 ] || fail "F2 shows no editor over the Level cell"
[ "$(edge box 140 300)" -lt 5 ] || fail "the editor reaches over the Value column"
mark=$(lines)
xdotool type --delay 30 "hot"
xdotool key Return
expect_after "$mark" '^edited item 1.2 column 1 "'
refuse_after "$mark" "^edited item 1.2 column 0 " "F2 edited the hidden Name column"
expect_fresh "an edit with Name hidden"
stop_demo
