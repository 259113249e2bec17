# An idle demo sleeps: no timer or poll wakes it while nothing happens. Its
# threads' run counts (the kernel's schedstat) over three idle seconds.
start_demo
xdotool mousemove 1000 750
expect_fresh "the start"
sleep 1
runs() {
  local s=0 f
  for f in /proc/"$demo_pid"/task/*/schedstat; do
    set -- $(cat "$f" 2>/dev/null || echo 0 0 0)
    s=$((s + $3))
  done
  echo "$s"
}
before=$(runs)
sleep 3
after=$(runs)
[ $((after - before)) -lt 15 ] || fail "the idle demo woke $((after - before)) times in three seconds"
stop_demo
