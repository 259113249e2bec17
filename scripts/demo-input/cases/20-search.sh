# Incremental search: after a letter that matches nothing, a new search
# starts once the search time-out has passed (the time-out's timer is set
# from a key the toolkit delivers, outside a pass of our loop).
start_demo
click 60 "$(row 0)"
expect "^focus group 1 column 0$"
xdotool type "q"
sleep 1.5
mark=$(lines)
xdotool type "group 3"
expect_after "$mark" "^focus group 3 column 0$"
expect_fresh "a search after a miss"
stop_demo
