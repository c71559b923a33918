# Filesystems and the real-time engines, fanotify and inotify alike. The
# watched tree is a filesystem of its own, with one mounted in it before the
# agent starts and one while it runs: changes on each are reported at once;
# each can be unmounted while the agent runs; what an unmount shows again is
# watched (inotify watches directories, not paths), and so is a filesystem
# mounted again where the watched tree was.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
T=$WORK/t
mkdir -p "$T"
if ! mount -t tmpfs kvo-e2e "$T" 2>/dev/null; then
    echo "SKIP: tmpfs cannot be mounted here"
    finish
    exit
fi
unmount_all() { for m in "$T/late" "$T/early" "$T"; do umount "$m" 2>/dev/null; done; }
trap 'unmount_all; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT
umount "$T"
realtime_config "$T" >"$WORK/config.xml"
# reported WORKDIR KEY OPERATION
reported() { python3 -c 'import json, sys
sys.exit(not any(e["key"] == sys.argv[2] and e["operationType"] == sys.argv[3] for e in map(json.loads, open(sys.argv[1]))))' \
    "$1/events.jsonl" "$2" "$3"; }

for engine in fanotify inotify; do
    mount -t tmpfs kvo-e2e "$T" && mkdir "$T/early" "$T/late" && mount -t tmpfs kvo-e2e "$T/early"
    echo v1 >"$T/late/hidden"
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

    umount "$T/early"
    check "$engine: the watched tree's own filesystem can be unmounted while the agent runs" umount "$T"
    mount -t tmpfs kvo-e2e "$T"
    sleep 1
    echo again >"$T/again"
    check "$engine: a filesystem mounted again there is watched" until_true 30 reported "$W" "$T/again" create
    kill -TERM $agent && wait $agent
    check "the agent stopped cleanly ($engine)" [ $? -eq 0 ]
    check "$engine: nothing warned [$(grep " WARN" "$W/kvo-agent.log")]" test -z "$(grep " WARN" "$W/kvo-agent.log")"
    umount "$T"
done
finish
