#!/bin/sh
# tools/wine-exec's lanes: programs started at once each get a lane of their
# own (prefix and display), a program started while every lane is taken
# waits for one, and a lane is free again once its program has ended.
# A stand-in `wine` records the lane it was given and holds it a while.
#
# Usage: check_lanes.sh <source root>
root=${1:?usage: check_lanes.sh <source root>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/lanes"
cat >"$work/bin/wine" <<'STUB'
#!/bin/sh
echo "$WINEPREFIX $DISPLAY $(date +%s.%N) start" >>"$LOG"
sleep "$1"
echo "$WINEPREFIX $DISPLAY $(date +%s.%N) end" >>"$LOG"
STUB
chmod +x "$work/bin/wine"
printf '/prefix-a\n:71\n' >"$work/lanes/lane1"
printf '/prefix-b\n:72\n' >"$work/lanes/lane2"
export PATH="$work/bin:$PATH" TM_LANES="$work/lanes" LOG="$work/log"

status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# Three programs on two lanes: the third waits for the first to end. The
# first two hold their lanes for clearly different times, so that only one
# lane is free when the third gets one, and the third starts only once both
# hold theirs (asked of the log, not guessed from a delay on a busy machine).
"$root/tools/wine-exec" 1 & first=$!
"$root/tools/wine-exec" 4 & second=$!
for _ in $(seq 200); do
    [ "$(grep -c start "$work/log" 2>/dev/null)" = 2 ] && break
    sleep 0.05  # polls another process's log; nothing to wait on instead
done
"$root/tools/wine-exec" 0 & third=$!
wait $first $second $third

[ "$(grep -c start "$work/log")" = 3 ] || fail "not every program ran: $(cat "$work/log")"
# The two that ran together had different lanes, each its prefix's display.
together=$(grep start "$work/log" | head -n 2 | cut -d' ' -f1,2 | sort | tr '\n' ' ')
[ "$together" = "/prefix-a :71 /prefix-b :72 " ] || fail "the first two shared a lane: $together"
# The third started only after one of them ended, in the lane it freed.
third_line=$(grep start "$work/log" | sed -n 3p)
third_start=$(echo "$third_line" | cut -d' ' -f3)
first_end=$(grep end "$work/log" | head -n 1 | cut -d' ' -f3)
freed=$(grep end "$work/log" | head -n 1 | cut -d' ' -f1)
awk -v s="$third_start" -v e="$first_end" 'BEGIN { exit !(s >= e) }' ||
    fail "the third started at $third_start, before a lane was free at $first_end"
[ "$(echo "$third_line" | cut -d' ' -f1)" = "$freed" ] || fail "the third did not get the freed lane $freed"

# Without lanes the program runs with the caller's prefix.
: >"$work/log"
TM_LANES= WINEPREFIX=/own-prefix "$root/tools/wine-exec" 0
grep -q "^/own-prefix " "$work/log" || fail "without lanes the caller's prefix is not used: $(cat "$work/log")"

[ $status -eq 0 ] && echo "each program had a lane of its own"
exit $status
