# The agent's real-time engine under `kvo-agent run`, for fanotify and for
# inotify (forced): changes on a watched tree become events without a scan
# being asked for, with who made them where fanotify tells it, in the JSON
# event and the CEF line; a file moved and then written gives the move and
# the update (by its writer, or by nobody named); a short-lived file and the agent's own work
# directory give nothing; a flood through a tiny queue is reported whole by
# the incremental scan it brings, each change once.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
start_rsyslog
T=$WORK/t
mkdir -p "$T/flood"
for f in py-fanotify py-inotify a-fanotify a-inotify m-fanotify m-inotify; do echo "$f" >"$T/$f.conf"; done
realtime_config "$T" "<Syslog server=\"127.0.0.1\" port=\"$UDP_PORT\" protocol=\"udp\" format=\"2\"/>" >"$WORK/config.xml"
# The work directory lies inside the watched tree: the engine must keep out of it.
W=$T/w
A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
expect_status 0 "the baseline" -- "${A[@]}" baseline
# events KEY: "change user process" of each JSON event about KEY (a rename: its new key).
events() { python3 -c 'import json, sys
for e in map(json.loads, open(sys.argv[1])):
    if e.get("isKey", e["key"]) == sys.argv[2]: print(e["operationType"], e.get("user", "-"), e.get("processName", "-"))' "$W/events.jsonl" "$1"; }
matches() { [[ $1 =~ $2 ]]; }
start_agent() {
    : >"$W/kvo-agent.log"
    "${A[@]}" "$@" run >"$WORK/run.out" 2>&1 & agent=$!
    until_true 30 grep -q "real-time: watching 1 directories" "$W/kvo-agent.log" ||
        { echo "FAIL: the engine did not start"; cat "$WORK/run.out"; }
    # The check that every start runs would otherwise race the changes made next.
    until_true 60 grep -q "integrity scan completed" "$W/kvo-agent.log" ||
        { echo "FAIL: the start check did not end"; cat "$W/kvo-agent.log"; }
}
stop_agent() { kill -TERM $agent && wait $agent; check "the agent stopped cleanly" [ $? -eq 0 ]; }

# engine|"user process" in the JSON event|what the CEF line says of them
while IFS='|' read -r engine who cef_who; do
    start_agent --set kvo.realtime=$engine
    expect_text "$W/kvo-agent.log" "real-time engine: $engine" "$engine: the engine runs"
    python3 -c 'import sys; open(sys.argv[1], "a").write("by python\n")' "$T/py-$engine.conf"
    mv "$T/a-$engine.conf" "$T/b-$engine.conf"
    mv "$T/m-$engine.conf" "$T/n-$engine.conf"
    python3 -c 'import sys; open(sys.argv[1], "a").write("moved, then written\n")' "$T/n-$engine.conf"
    echo brief >"$T/brief-$engine.conf" && rm "$T/brief-$engine.conf"
    echo ours >"$W/ours-$engine.conf"
    echo last >"$T/last-$engine.conf"
    until_true 30 grep -q "last-$engine" "$W/events.jsonl"
    check "$engine: the write by python3 [$(events "$T/py-$engine.conf")]" matches "$(events "$T/py-$engine.conf")" "^update $who\$"
    check "$engine: one rename [$(events "$T/b-$engine.conf")]" [ "$(events "$T/b-$engine.conf" | cut -d' ' -f1)" = rename ]
    moved=$(events "$T/n-$engine.conf" | tr '\n' ';')
    # The write's own notification may come after the scan that saw the move: then nobody is named.
    check "$engine: a move, then a write by python3 [$moved]" matches "$moved" "^rename [^;]*;update ($who|- -);\$"
    check "$engine: a file gone within the settle time leaves nothing" \
        [ -z "$(events "$T/brief-$engine.conf")$(sqlite3 "$W/si.db" "SELECT key FROM Entitys WHERE key LIKE '%brief%' AND supercededBy IS NULL;")" ]
    check "$engine: nothing from the work directory" [ -z "$(grep -F "ours-$engine" "$W/events.jsonl")" ]
    cef=$(grep -F "CEF:" "$LOG" | grep -F "$T/py-$engine.conf")
    check "$engine: the CEF line [$cef]" matches "$cef" "$cef_who"
    stop_agent
done <<'TABLE'
fanotify|root /[^ ]*python3[^ ]*|act=updated suser=root sproc=/[^ ]*python3
inotify|- -|act=updated filePath=
TABLE

# A queue of four: the flood overflows it, and an incremental scan reports it all.
# The flood is made while the agent is stopped, so that the kernel hands it
# over at once; made while it runs, the changes could trickle in no faster
# than the agent takes them (a loaded machine slows the writer most).
start_agent --set kvo.realtime=fanotify --set kvo.realtime.queueSize=4
kill -STOP $agent
python3 -c 'import sys
for i in range(300): open("%s/f%d.conf" % (sys.argv[1], i), "w").write("x")' "$T/flood"
kill -CONT $agent
flood() { [ "$(grep -c "\"$T/flood/" "$W/events.jsonl")" -ge 300 ]; }
until_true 60 flood
expect_text "$W/kvo-agent.log" "changes could not be reported one by one (the queue to the on-change object was full); an incremental scan was requested" "the overflow is logged"
check "each of 300 flooded files reported once as created" [ "$(python3 -c 'import json, sys
keys = [e["key"] for e in map(json.loads, open(sys.argv[1])) if e["key"].startswith(sys.argv[2])]
print(len(keys), len(set(keys)))' "$W/events.jsonl" "$T/flood/")" = "300 300" ]
"${A[@]}" status >"$WORK/status"
expect_text "$WORK/status" "^real-time engine: fanotify, 1 directories watched, 0 unwatched, [1-9][0-9]* changes left to scans$" "status shows the engine"
stop_agent

# Trees removed while the agent reads nothing (stopped): the changes in their
# directories are read after the directories are gone. The tree outside the
# watch list costs nothing; the one inside is reported file by file, without a scan.
for d in "$WORK/outside/a/b/c" "$T/gone/x/y"; do
    mkdir -p "$d" && for sub in "$d" "${d%/*}" "${d%/*/*}"; do for i in 1 2 3; do echo x >"$sub/f$i.conf"; done; done
done
start_agent --set kvo.realtime=fanotify
gone() { [ "$(grep -c "\"$T/gone/" "$W/events.jsonl")" -ge "$1" ]; }
until_true 30 gone 9 || echo "FAIL: the start check did not report the tree to remove"
kill -STOP $agent
rm -rf "$WORK/outside/a" "$T/gone"
kill -CONT $agent
until_true 30 gone 18
sleep 2
check "each of the 9 removed files reported once as deleted" [ "$(python3 -c 'import json, sys
keys = [e["key"] for e in map(json.loads, open(sys.argv[1])) if e["key"].startswith(sys.argv[2]) and e["operationType"] == "delete"]
print(len(keys), len(set(keys)))' "$W/events.jsonl" "$T/gone/")" = "9 9" ]
check "no scan was asked for" [ -z "$(grep "could not be reported one by one" "$W/kvo-agent.log")" ]
"${A[@]}" status >"$WORK/status"
expect_text "$WORK/status" "^real-time engine: fanotify, 1 directories watched, 0 unwatched, 0 changes left to scans$" "status: nothing left to scans"
stop_agent
finish
