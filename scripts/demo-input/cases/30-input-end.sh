# The end of the demo's input ends it, also when the input is at its end from
# the start: an empty pipe and /dev/null.
for input in pipe null; do
  start=$(date +%s)
  if [ "$input" = pipe ]; then
    true | timeout 20 "$demo" >"$work/$case_name.log" 2>&1 || fail "with an empty pipe for input the demo did not end"
  else
    timeout 20 "$demo" </dev/null >"$work/$case_name.log" 2>&1 || fail "with /dev/null for input the demo did not end"
  fi
  [ $(($(date +%s) - start)) -lt 10 ] || fail "the demo took long to end at the end of its input ($input)"
done
