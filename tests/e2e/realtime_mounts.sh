# Filesystems and the real-time engines, fanotify and inotify alike. The
# watched tree B lies on a filesystem of its own, with one mounted in it
# before the agent starts and one while it runs, and a directory from outside
# B bound into it: changes on each are reported at once, the bound one under
# its watched path whichever path it was changed through; each can be
# unmounted while the agent runs; what an unmount shows again is watched
# (inotify watches directories, not paths), and so is a filesystem mounted
# again where B's was, with B on it or B made on it afterwards. What an
# unmount took away is found by the scan it asks for: once all is quiet, a
# check finds nothing left to report.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
T=$WORK/t
B=$T/b
mkdir -p "$T" "$WORK/staging"
if ! mount -t tmpfs kvo-e2e "$T" 2>/dev/null; then
    echo "SKIP: tmpfs cannot be mounted here"
    finish
    exit
fi
unmount_all() { for m in "$B/bound" "$B/late" "$B/early" "$T" "$WORK/staging"; do umount "$m" 2>/dev/null; done; }
trap 'unmount_all; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT
umount "$T"
realtime_config "$B" >"$WORK/config.xml"

for engine in fanotify inotify; do
    mount -t tmpfs kvo-e2e "$T" && mkdir -p "$B/early" "$B/late" "$B/bound" "$T/outside"
    mount -t tmpfs kvo-e2e "$B/early" && mount --bind "$T/outside" "$B/bound"
    echo v1 >"$B/late/hidden"
    echo v1 >"$T/outside/file"
    W=$WORK/$engine
    A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
    start_realtime $engine
    mount -t tmpfs kvo-e2e "$B/late"
    sleep 1
    echo new >"$B/early/$engine"
    echo new >"$B/late/$engine"
    echo v2 >>"$T/outside/file"
    check "$engine: a file on a filesystem mounted before the start reported at once" \
        until_true 30 reported "$W" "$B/early/$engine" create
    check "$engine: a file on a filesystem mounted while the agent runs reported at once" \
        until_true 30 reported "$W" "$B/late/$engine" create
    check "$engine: a file bound into the tree, changed through its own path, reported under the watched one" \
        until_true 30 reported "$W" "$B/bound/file" update
    check "$engine: that filesystem can be unmounted while the agent runs" umount "$B/late"
    sleep 1
    echo "v2 $engine" >>"$B/late/hidden"
    check "$engine: the directory the unmount showed again is watched" until_true 30 reported "$W" "$B/late/hidden" update

    umount "$B/early" "$B/bound"
    check "$engine: the filesystem of the watched tree can be unmounted while the agent runs" umount "$T"
    # Mounted again with the tree already in it, as a disk would come back.
    mount -t tmpfs kvo-e2e "$WORK/staging" && mkdir "$WORK/staging/b" && mount --bind "$WORK/staging" "$T"
    sleep 1
    echo again >"$B/again"
    check "$engine: a filesystem mounted again there is watched" until_true 30 reported "$W" "$B/again" create
    # And mounted empty, the tree made on it afterwards.
    umount "$T" "$WORK/staging" && mount -t tmpfs kvo-e2e "$T"
    sleep 1
    mkdir "$B" && echo afresh >"$B/afresh"
    check "$engine: a tree made on a filesystem mounted there is watched" until_true 30 reported "$W" "$B/afresh" create
    until_true 90 quiet || echo "FAIL: the scans did not end ($engine)"
    kill -TERM $agent && wait $agent
    check "the agent stopped cleanly ($engine)" [ $? -eq 0 ]
    expect_status 0 "$engine: a check finds nothing the engine left out" -- "${A[@]}" check
    # The scan an unmount asks for may read a file while the test writes it.
    warned=$(grep " WARN" "$W/kvo-agent.log" | grep -v -e "(a filesystem was unmounted in a watched tree)" \
        -e "(changed while read)")
    check "$engine: nothing warned but the unmounts [$warned]" test -z "$warned"
    umount "$T"
done
finish
