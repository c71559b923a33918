# A filesystem mounted in a watched tree is watched too, by either engine,
# whether it was there when the agent started or came while it runs. It can
# be unmounted while the agent runs, and the directory its unmount shows again
# is watched again (inotify watches directories, not paths).
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
T=$WORK/t
mkdir -p "$T/early" "$T/late"
echo v1 >"$T/late/hidden"
if ! mount -t tmpfs kvo-e2e "$T/early" 2>/dev/null; then
    echo "SKIP: tmpfs cannot be mounted here"
    finish
    exit
fi
trap 'umount "$T/late" 2>/dev/null; umount "$T/early"; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT
realtime_config "$T" >"$WORK/config.xml"
# reported WORKDIR KEY OPERATION
reported() { python3 -c 'import json, sys
sys.exit(not any(e["key"] == sys.argv[2] and e["operationType"] == sys.argv[3] for e in map(json.loads, open(sys.argv[1]))))' \
    "$1/events.jsonl" "$2" "$3"; }

for engine in fanotify inotify; do
    W=$WORK/$engine
    A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
    expect_status 0 "the baseline ($engine)" -- "${A[@]}" baseline
    "${A[@]}" --set kvo.realtime=$engine run >"$WORK/run.out" 2>&1 &
    agent=$!
    settled() { grep -q "real-time: watching" "$W/kvo-agent.log" &&
        "${A[@]}" status 2>/dev/null | grep -qz "integrity scan: idle.*pending scans: none"; }
    until_true 60 settled || echo "FAIL: the start's scans did not end ($engine)"
    mount -t tmpfs kvo-e2e "$T/late"
    sleep 1
    echo new >"$T/early/$engine"
    echo new >"$T/late/$engine"
    check "$engine: a file on a filesystem mounted before the start reported at once" \
        until_true 30 reported "$W" "$T/early/$engine" create
    check "$engine: a file on a filesystem mounted while the agent runs reported at once" \
        until_true 30 reported "$W" "$T/late/$engine" create
    check "$engine: that filesystem can be unmounted while the agent runs" umount "$T/late"
    sleep 1
    echo "v2 $engine" >>"$T/late/hidden"
    check "$engine: the directory the unmount showed again is watched" until_true 30 reported "$W" "$T/late/hidden" update
    kill -TERM $agent && wait $agent
    check "the agent stopped cleanly ($engine)" [ $? -eq 0 ]
    check "$engine: nothing warned [$(grep " WARN" "$W/kvo-agent.log")]" test -z "$(grep " WARN" "$W/kvo-agent.log")"
done
finish
