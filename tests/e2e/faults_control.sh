# Faults a user meets around the control loop and the queries: a full disk
# (tmpfs smaller than the free-space minimum) suspends scanning with event
# 6012, baseline says so at once with 75, and scanning resumes by itself when
# space is back; events and entities page with --after/--limit and delete only
# on --confirm; a rule whose sets have no scanner completes without looping.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
FULL=$WORK/full
trap 'kill $RUN 2>/dev/null; wait; umount "$FULL" 2>/dev/null; rm -rf "$WORK"' EXIT
T=$WORK/tree
mkdir -p "$T" "$FULL"
for i in $(seq 12); do echo "file $i" >"$T/f$i"; done
# config FILE SETS ALLOW: a configuration with one rule of the given sets.
config() {
    cat >"$1" <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="$3" systemIntegrityEventMode="1"/>
  <IntegrityRules>
    <IntegrityRule id="7" name="Tree" identifier="1007" severity="2" allowOnChange="$3">$2</IntegrityRule>
  </IntegrityRules>
</SecurityConfiguration>
XML
}
config "$WORK/files.xml" "<FileSet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/></Attributes></FileSet>" false
# wait_for FILE PATTERN: until PATTERN occurs, at most 90 s.
wait_for() {
    for _ in $(seq 900); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

# --- A full disk ---
mount -t tmpfs -o size=3m tmpfs "$FULL"
F=("$AGENT" --workdir "$FULL" --config "$WORK/files.xml")
expect_status 75 "baseline on a full disk" -- timeout 60 "${F[@]}" baseline
expect_text "$WORK/err" "file system on $FULL .* MB free" "baseline names the file system and its free space"
expect_text "$FULL/agent-events.log" "^6012|$FULL/si.db|[0-2]|5$" "event 6012 names the database, free and minimum MB"
: >"$FULL/kvo-agent.log"
"${F[@]}" run >"$WORK/run.out" 2>&1 &
RUN=$!
wait_for "$FULL/kvo-agent.log" "Disk space is low"
check "run suspends scanning while space is low" [ -z "$(grep '^8000|' "$FULL/agent-events.log")" ]
mount -o remount,size=64m "$FULL"
check "scanning resumes by itself when space is back" wait_for "$FULL/agent-events.log" "^8000|"
kill $RUN && wait $RUN
check "the resumed baseline recorded every file" \
    [ "$(sqlite3 "$FULL/si.db" "SELECT COUNT(*) FROM [Entitys] WHERE [supercededBy] IS NULL;")" = 12 ]

# --- Paging and confirmation ---
W=$WORK/w
A=("$AGENT" --workdir "$W" --config "$WORK/files.xml")
db() { sqlite3 "$W/si.db" "$1"; }
expect_status 0 "the baseline" -- "${A[@]}" baseline
for i in $(seq 13 22); do echo "new $i" >"$T/f$i"; done
echo changed >"$T/f1"
rm "$T/f2"
expect_status 7 "the check" -- "${A[@]}" check
first=$(db "SELECT MIN([integrityEventId]) FROM [IntegrityEvents];")
events=$(db "SELECT COUNT(*) FROM [IntegrityEvents];")
ids() { python3 -c 'import json,sys; print(" ".join(str(json.loads(l)[sys.argv[2]]) for l in open(sys.argv[1])))' "$WORK/out" "$1"; }
expect_status 0 "events --after --limit" -- "${A[@]}" events --after $((first + 2)) --limit 3 --json
check "events after an id come oldest first, up to the limit" \
    [ "$(ids integrityEventId)" = "$((first + 3)) $((first + 4)) $((first + 5))" ]
expect_status 0 "events --after the highest id, none kept" -- "${A[@]}" --set zel.im.eventsToRetain=0 events --after $((first + events))
check "listing events deletes none" [ "$(db "SELECT COUNT(*) FROM [IntegrityEvents];")" = "$events" ]
expect_status 0 "a confirmation beyond the last event, retention negative" -- \
    "${A[@]}" --set zel.im.eventsToRetain=-5 events --confirm 1000000
expect_text "$WORK/err" "zel.im.eventsToRetain" "the negative retention is named in a warning"
check "no undelivered event is deleted" [ "$(db "SELECT COUNT(*) FROM [IntegrityEvents];")" = "$events" ]
expect_status 0 "events --confirm, none kept" -- "${A[@]}" --set zel.im.eventsToRetain=0 events --confirm $((first + 1))
check "--confirm deletes the events up to its id" [ "$(db "SELECT MIN([integrityEventId]) FROM [IntegrityEvents];")" = $((first + 2)) ]
OLD="SELECT COUNT(*) FROM [Entitys] WHERE [supercededBy]=-1 OR [supercededBy]>0;"
high=$(db "SELECT MAX([entityId]) FROM [Entitys];")
LIVE="FROM [Entitys] WHERE [key]<>'' AND [integrityRuleId]<>0"
e1=$(db "SELECT MIN([entityId]) $LIVE;")
expect_status 0 "entities --after --limit" -- "${A[@]}" entities --after "$e1" --limit 2 --json
check "entities after an id, up to the limit" \
    [ "$(ids entityId)" = "$(db "SELECT GROUP_CONCAT([entityId],' ') FROM (SELECT [entityId] $LIVE AND [entityId]>$e1 LIMIT 2);")" ]
expect_status 0 "entities --after the highest id" -- "${A[@]}" entities --after "$high"
check "listing entities deletes no old version" [ "$(db "$OLD")" = 2 ]
expect_status 75 "entities --confirm during a scan" -- "${A[@]}" --set zel.im.bScanRunning=true entities --confirm "$high"
expect_status 0 "entities --confirm beyond the highest id" -- "${A[@]}" entities --confirm 1000000
expect_text "$WORK/err" "GetEntities() lastId 1000000 is above the highest id" "the clamp is named in a warning"
check "--confirm deletes the old versions" [ "$(db "$OLD")" = 0 ]

# --- A set of host objects with on-change allowed does not make scans back to back ---
config "$WORK/users.xml" '<UserSet><Include key="root"/></UserSet>' true
U=$WORK/u
"$AGENT" --workdir "$U" --config "$WORK/users.xml" run >"$WORK/run.out" 2>&1 &
RUN=$!
check "the baseline of the user set completes" wait_for "$U/agent-events.log" "^8000|"
sleep 3  # what is counted is what did not happen meanwhile
kill $RUN && wait $RUN
check "no scans back to back: $(sqlite3 "$U/si.db" "SELECT [seq] FROM sqlite_sequence WHERE [name]='Scans';") scans" \
    [ "$(sqlite3 "$U/si.db" "SELECT [seq] FROM sqlite_sequence WHERE [name]='Scans';")" -le 2 ]
check "no scan left open" [ "$(sqlite3 "$U/si.db" "SELECT COUNT(*) FROM [Scans] WHERE [endTime] IS NULL;")" = 0 ]
finish
