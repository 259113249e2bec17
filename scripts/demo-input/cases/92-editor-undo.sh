# Undo in the caption editor: Ctrl+Z (or Alt+Backspace) takes back the last
# change, a run of typing as one; a second Ctrl+Z brings it back.
start_demo
click 60 "$(row 2)"
expect "^focus item 1.2 column 0$"
# F2, then the steps: "type TEXT" or a key; Return ends the edit.
edit() {
  xdotool key F2
  sleep 0.3
  while [ $# -gt 0 ]; do
    if [ "$1" = type ]; then
      xdotool type --delay 30 "$2"
      shift 2
    else
      xdotool key --delay 60 "$1"
      shift
    fi
  done
  xdotool key Return
}
mark=$(lines)
# Typing over the selected caption, undone: the caption stays.
edit type "boiler" ctrl+z
sleep 0.5
refuse_after "$mark" "^edited " "Ctrl+Z did not take back the typing"
expect_fresh "typing undone"
# Undone and done again.
edit type "boiler" ctrl+z ctrl+z
expect_after "$mark" '^edited item 1.2 column 0 "boiler"$'
expect_fresh "typing undone and redone"
# Only the last change goes: the Backspaces after the typing.
mark=$(lines)
edit End type " room" BackSpace BackSpace ctrl+z
expect_after "$mark" '^edited item 1.2 column 0 "boiler room"$'
expect_fresh "Backspaces undone"
# Alt+Backspace undoes as Ctrl+Z does; in the Russian layout Ctrl+Z is the key of Я.
mark=$(lines)
edit End type "!" alt+BackSpace
sleep 0.5
refuse_after "$mark" "^edited " "Alt+Backspace did not take back the typing"
expect_fresh "Alt+Backspace"
trap "setxkbmap -layout us" EXIT
setxkbmap -layout ru
sleep 0.3
edit End type "ё" ctrl+Cyrillic_ya
sleep 0.5
setxkbmap -layout us
refuse_after "$mark" "^edited " "Ctrl+Z in the Russian layout did not take back the typing"
expect_fresh "Ctrl+Z in the Russian layout"
stop_demo
