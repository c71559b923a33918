# What the inotify engine cannot watch is covered by incremental scans: the
# log says so, and a change there is reported by the next such scan, once.
#  - Files by extension across the host (a set based at the root); fanotify
#    watches them on every filesystem, without keeping one from unmounting.
#  - Directories beyond the watch limit, lowered in a user namespace of the
#    agent's own so that the machine's limit stays as it is: the warning names
#    the setting to raise, and status counts them; a change in a watched one
#    is reported at once.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
# Reports of KEY PREFIX in WORKDIR's JSON events: "count distinct [operations]".
reports() { python3 -c 'import json, sys
seen = [(e["key"], e["operationType"]) for e in map(json.loads, open(sys.argv[1])) if e["key"].startswith(sys.argv[2])]
print(len(seen), len(set(seen)), sorted(set(op for _, op in seen)))' "$1/events.jsonl" "$2"; }
stop() { kill -TERM $agent && wait $agent; check "the agent stopped cleanly ($1)" [ $? -eq 0 ]; }

# Only the files named *.kvox below E: the walk from the root descends nowhere else.
E=$WORK/e
mkdir -p "$E/sub" && echo v1 >"$E/sub/one.kvox"
realtime_config / | sed "s|<Include key=\"\*\*\"/>|<Include key=\"${E#/}/**/*.kvox\"/>|" >"$WORK/ext.xml"
X=("$AGENT" --workdir "$WORK/x" --config "$WORK/ext.xml")
expect_status 0 "the baseline of the root-based set" -- "${X[@]}" baseline
: >"$WORK/x/kvo-agent.log"
"${X[@]}" --set kvo.realtime=inotify run >"$WORK/run.out" 2>&1 &
agent=$!
until_true 60 grep -q "integrity scan completed" "$WORK/x/kvo-agent.log" || echo "FAIL: the start check did not end"
expect_text "$WORK/x/kvo-agent.log" "inotify cannot watch files by their extension across the host" "the gap is said"
echo v2 >>"$E/sub/one.kvox"
echo new >"$E/sub/two.kvox"
echo other >"$E/sub/three.txt"
kvox_reported() { [ "$(reports "$WORK/x" "$E/")" = "2 2 ['create', 'update']" ]; }
check "the two .kvox files reported by the next scan, once [$(reports "$WORK/x" "$E/")]" until_true 60 kvox_reported
stop "extensions"

# The same set with fanotify, and a file on a filesystem of its own: that
# filesystem is marked too, and can still be unmounted while the agent runs.
M=$E/mnt
mkdir -p "$M"
if mount -t tmpfs kvo-e2e "$M" 2>/dev/null; then
    trap 'umount "$M" 2>/dev/null; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT
    echo v1 >"$M/four.kvox"
    : >"$WORK/x/kvo-agent.log"
    "${X[@]}" --set kvo.realtime=fanotify run >"$WORK/run.out" 2>&1 &
    agent=$!
    # Once the engine watches and the scans of the start have ended, a write is the engine's to report.
    settled() { grep -q "real-time: watching" "$WORK/x/kvo-agent.log" &&
        "${X[@]}" status 2>/dev/null | grep -qz "integrity scan: idle.*pending scans: none"; }
    until_true 60 settled || echo "FAIL: the start's scans did not end"
    python3 -c 'import sys; open(sys.argv[1], "a").write("by python\n")' "$M/four.kvox"
    by_python() { python3 -c 'import json, sys
print(any(e["key"] == sys.argv[2] and e["operationType"] == "update" and "python3" in e.get("processName", "")
          for e in map(json.loads, open(sys.argv[1]))))' "$WORK/x/events.jsonl" "$M/four.kvox" | grep -q True; }
    check "a file by extension on another filesystem reported at once, with who wrote it" until_true 30 by_python
    check "that filesystem can still be unmounted while the agent runs" umount "$M"
    stop "fanotify"
else
    echo "SKIP: a file by extension on another filesystem: tmpfs cannot be mounted here"
fi

if ! unshare -Ur true 2>/dev/null; then
    echo "SKIP: the watch limit: this host does not allow user namespaces"
    finish
    exit
fi
T=$WORK/t
for i in 1 2 3 4 5 6; do mkdir -p "$T/d$i" && echo v1 >"$T/d$i/f"; done
realtime_config "$T" >"$WORK/config.xml"
W=$WORK/w
A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
expect_status 0 "the baseline" -- "${A[@]}" baseline

: >"$W/kvo-agent.log"
# Seven directories, four watches.
unshare -Ur sh -c 'echo 4 >/proc/sys/user/max_inotify_watches && exec "$@"' sh \
    "${A[@]}" --set kvo.realtime=inotify run >"$WORK/run.out" 2>&1 &
agent=$!
until_true 30 grep -q "real-time: watching 1 directories" "$W/kvo-agent.log" ||
    { echo "FAIL: the engine did not start"; cat "$WORK/run.out"; }
# The start check, then the first scan that covers the unwatched directories.
scans_completed() { [ "$(grep -c "integrity scan completed" "$W/kvo-agent.log")" -ge 2 ]; }
until_true 60 scans_completed || { echo "FAIL: the first two scans did not end"; cat "$W/kvo-agent.log"; }
expect_text "$W/kvo-agent.log" \
    "the inotify watch limit is reached; 3 directories are not watched (raise fs.inotify.max_user_watches)" \
    "the warning names the count and the setting"
expect_text "$W/kvo-agent.log" "incremental scans cover what is not watched" "the cover is logged"
"${A[@]}" status >"$WORK/status"
expect_text "$WORK/status" "^real-time engine: inotify, 4 directories watched, 3 unwatched," "status counts them"

for i in 1 2 3 4 5 6; do echo v2 >>"$T/d$i/f"; done
updated() { [ "$(grep -c "\"$T/d[1-6]/f\"" "$W/events.jsonl")" -ge "$1" ]; }
check "the three watched files reported at once" until_true 30 updated 3
# The next scan that covers the others follows the last one by ten seconds.
check "the three unwatched ones by the next scan" until_true 90 updated 6
sleep 3
check "each of the six files reported once, as updated" [ "$(reports "$W" "$T/d")" = "6 6 ['update']" ]
stop "watch limit"
finish
