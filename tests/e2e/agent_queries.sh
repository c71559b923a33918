# kvo-agent events, entities, status and dump on a tree with a baseline and a
# few changes: what each lists against what si.db holds, refusal during a
# scan, --help and bad options (paging and --confirm: faults_control.sh).
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

T=$WORK/tree
mkdir -p "$T"
echo "edit me first" >"$T/edit.txt"
echo "remove me" >"$T/gone.txt"
echo "stays as it is" >"$T/keep.txt"
config_xml 'systemIntegrityEventMode="1"' 'id="7" name="Tree files" identifier="1007" severity="2"' \
    "<FileSet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>" >"$WORK/rule.xml"
W=$WORK/work
agent() { "$AGENT" --workdir "$W" --config "$WORK/rule.xml" "$@"; }
db() { sqlite3 "$W/si.db" "$1"; }
CURRENT="SELECT COUNT(*) FROM [Entitys] WHERE [supercededBy] IS NULL AND [key]<>'' AND [integrityRuleId]<>0;"
RULE="\\[1007 - Tree files\\]"

expect_status 69 "events before any baseline" -- agent events
expect_text "$WORK/err" "no integrity database" "events says there is no database yet"
check "no database is created by a query" [ ! -e "$W/si.db" ]
expect_status 0 "the baseline" -- agent baseline

expect_status 0 "entities --json" -- agent entities --limit 100000 --json
check "entities lists the current set" [ "$(wc -l <"$WORK/out")" = "$(db "$CURRENT")" ]
expect_status 0 "entities" -- agent entities
expect_text "$WORK/out" "^[0-9]* File $RULE $T/edit.txt$" "entities names type, rule and key"
expect_text "$WORK/out" "^    size: 14$" "entities shows the attributes"
expect_status 0 "status" -- agent status
for line in "integrity scan: idle" "pending scans: none" "event mode: 1" "statistics of this process (no agent runs on this work directory):" \
    " counters:"; do
    expect_text "$WORK/out" "^$line" "status: $line"
done
expect_status 0 "dump" -- agent dump
check "dump prints its file and the current count" \
    [ "$(cat "$WORK/out")" = "$W/im/im_baseline.txt: $(db "$CURRENT") entities" ]
check "the plug-in's directory is private (mode 700)" [ "$(stat -c %a "$W/im")" = 700 ]
check "the dump holds a header and one line per entity" \
    [ "$(wc -l <"$W/im/im_baseline.txt")" = $(($(db "$CURRENT") + 1)) ]

echo "edit me first, then again" >"$T/edit.txt"
rm "$T/gone.txt"
echo new >"$T/new.txt"
expect_status 7 "the check" -- agent check
ids=($(db "SELECT [integrityEventId] FROM [IntegrityEvents] ORDER BY 1;"))
check "three events" [ ${#ids[@]} = 3 ]

expect_status 0 "events" -- agent events
expect_text "$WORK/out" "^${ids[0]} [0-9T:.-]*Z [a-z]* \[1007 - Tree files\] File $T/" "an event line: id, time, change, rule, key"
expect_text "$WORK/out" "update \[1007 - Tree files\] File $T/edit.txt$" "the update"
expect_text "$WORK/out" "^    size: 14 -> 26$" "the update's attribute with old and new value"
# json_ids ARGS...: the event ids that events --json prints, and each names the rule.
json_ids() {
    expect_status 0 "events --json $*" -- agent events --json "$@"
    python3 -c '
import json, sys
events = [json.loads(l) for l in open(sys.argv[1])]
assert all(e["rule"] == "1007 - Tree files" for e in events), events
print(" ".join(str(e["integrityEventId"]) for e in events))' "$WORK/out"
}
for case in "|${ids[*]}" "--limit 2|${ids[0]} ${ids[1]}" "--after ${ids[0]}|${ids[1]} ${ids[2]}" \
    "--after ${ids[2]}|"; do
    got=$(json_ids ${case%%|*})
    check "events --json ${case%%|*}: [$got], expected [${case#*|}]" [ "$got" = "${case#*|}" ]
done

sed 's/systemIntegrityEventMode="1"/systemIntegrityEventMode="2"/' "$WORK/rule.xml" >"$WORK/json.xml"
expect_status 0 "events in event mode 2" -- "$AGENT" --workdir "$W" --config "$WORK/json.xml" events
expect_text "$WORK/err" "sent as JSON lines to events.jsonl" "events in event mode 2 says where the events go"
check "events in event mode 2 lists no rows" [ ! -s "$WORK/out" ]

expect_status 0 "entities --after the highest id" -- agent entities --after "$(db "SELECT MAX([entityId]) FROM [Entitys];")"
expect_text "$WORK/out" "^no entities after entity" "nothing after the highest id"

for command in "entities --confirm 1" dump; do
    expect_status 75 "$command during a scan" -- agent --set zel.im.bScanRunning=true $command
    expect_text "$WORK/err" "Integrity scan in progress" "$command says a scan is in progress"
done
for command in events entities status dump run baseline check exec feed scan-root; do
    expect_status 0 "$command --help" -- agent $command --help
done
expect_text <(agent events --help) "zel.im.eventsToRetain" "events --help says what --confirm deletes"
for bad in "events --bogus" "events --limit 0" "events --after" "entities --after x" "status --json" "dump now" "run now"; do
    expect_status 64 "bad option: $bad" -- agent $bad
done
finish
