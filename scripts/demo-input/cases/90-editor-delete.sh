# Delete in the caption editor deletes the character after the caret, as in
# any text box, and types nothing: the main block's Delete (for which the
# desktop also types a DEL character), Shift+Delete, the keypad's and Ctrl's.
start_demo
click 60 "$(row 3)"
expect "^focus item 1.3 column 0$"
# F2, the keys, Return: the text stored must be $1, exactly.
edit() {
  local mark text="$1"
  shift
  mark=$(lines)
  xdotool key F2
  sleep 0.3
  xdotool key --delay 60 "$@" Return
  expect_after "$mark" "^edited item 1.3 column 0 \"$text\"\$"
}
edit "tem 1.3" Home Delete
expect_fresh "Home, Delete"
# Shift+Delete with nothing selected cuts nothing; Delete then deletes.
edit "em 1.3" Home shift+Delete Delete
expect_fresh "Shift+Delete without a selection"
# Shift+Delete cuts the selection to the clipboard; the keypad's Delete deletes.
edit "m 1." End shift+Left shift+Delete Home KP_Delete
[ "$(xclip -o -selection clipboard 2>/dev/null)" = 3 ] || fail "Shift+Delete cut \"$(xclip -o -selection clipboard)\""
expect_fresh "Shift+Delete of a selection, the keypad's Delete"
# Ctrl+Backspace and Ctrl+Delete erase a word each.
edit "" End ctrl+BackSpace Home ctrl+Delete
expect_fresh "Ctrl+Backspace, Ctrl+Delete"
stop_demo
