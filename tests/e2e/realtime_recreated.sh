# A watched tree removed with the directory above it and made again while
# the agent runs (a deployment that replaces a directory) is watched again,
# by fanotify and inotify alike: a file written there is reported at once.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
P=$WORK/p
B=$P/b
realtime_config "$B" >"$WORK/config.xml"

for engine in fanotify inotify; do
    mkdir -p "$B" && echo v1 >"$B/old"
    W=$WORK/$engine
    A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
    start_realtime $engine
    rm -rf "$P"
    check "$engine: the removed file reported" until_true 30 reported "$W" "$B/old" delete
    mkdir -p "$B"
    sleep 1
    echo new >"$B/new"
    check "$engine: a file in the tree made again reported at once" until_true 30 reported "$W" "$B/new" create
    kill -TERM $agent && wait $agent
    check "the agent stopped cleanly ($engine)" [ $? -eq 0 ]
    rm -rf "$P"
done
finish
