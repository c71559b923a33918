# kvo-agent check: after a baseline, each kind of change on a tree is reported
# as its events with the exit status of what changed; nothing changed leaves
# the history as it was; a burst of events is shown up to a bound, and the
# user told where the rest are; a work directory without a baseline, or a changed
# rule, gets a baseline first (exit 16); event mode 2 reports from the JSON
# lines, and --json prints JSON lines; the agent's own work directory is never
# recorded.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

T=$WORK/tree
mkdir -p "$T/sub"
echo "edit me first" >"$T/edit.txt"
echo "remove me" >"$T/gone.txt"
echo "this content moves to another name" >"$T/moving.txt"
echo "this content is copied twice and vanishes" >"$T/twice.txt"
echo "this content stays and is copied" >"$T/sub/keep.txt"
echo tiny >"$T/small.txt"

# config SEVERITY EVENT_MODE: the rule over the tree's files.
config() {
    config_xml "systemIntegrityEventMode=\"$2\"" "id=\"7\" name=\"Tree files\" identifier=\"1007\" severity=\"$1\"" \
        "<FileSet base=\"$T\"><Include key=\"**\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>"
}
config 2 1 >"$WORK/rule.xml"
config 3 1 >"$WORK/edited.xml"
config 2 2 >"$WORK/json.xml"

# events: the "change key" of each event line that check printed (id, time, change, rule, type, key), sorted.
events() { sed -nE 's/^[0-9]+ [0-9]{4}-[0-9T:.Z-]+ ([a-z]+) \[1007 - Tree files\] File (.*)$/\1 \2/p' "$WORK/out" | sort; }
# step DIR CONFIG DESCRIPTION STATUS [EVENT...]: a check and the events it must print.
step() {
    local dir=$1 conf=$2 what=$3 want=$4
    shift 4
    expect_status "$want" "check: $what" -- "$AGENT" --workdir "$dir" --config "$WORK/$conf" check
    local got expected
    got=$(events)
    expected=$( [ $# -gt 0 ] && printf '%s\n' "$@" | sort)
    check "check: $what: events [$got], expected [$expected]" [ "$got" = "$expected" ]
}
history() { sqlite3 "$1/si.db" "SELECT * FROM [Entitys] ORDER BY [entityId];"; }

# A work directory without a baseline: the check records one and names the rule.
step "$WORK/fresh" rule.xml "no baseline yet" 16
expect_text "$WORK/out" "a baseline had to be recorded first (there was no baseline yet)" "the check says why"
expect_text "$WORK/out" "^  7 Tree files (identifier 1007)$" "the check names the rule the baseline covered"

W=$WORK/work
expect_status 0 "the baseline" -- "$AGENT" --workdir "$W" --config "$WORK/rule.xml" baseline
history "$W" >"$WORK/before"
step "$W" rule.xml "nothing changed" 0
expect_text "$WORK/out" "nothing changed" "the check says nothing changed"
history "$W" >"$WORK/after"
check "nothing changed: the history keeps the same rows" cmp -s "$WORK/before" "$WORK/after"

echo "edit me first, then again" >"$T/edit.txt"
step "$W" rule.xml "a content edit" 4 "update $T/edit.txt"
expect_text "$WORK/out" "^    size: 14 -> 26$" "the update shows the old and new size"
check "the old row points to the new one" [ "$(sqlite3 "$W/si.db" "SELECT COUNT(*) FROM [Entitys] AS o JOIN [Entitys] AS n
    ON o.[supercededBy]=n.[entityId] WHERE o.[key]='$T/edit.txt' AND n.[key]=o.[key] AND n.[supercededBy] IS NULL;")" = 1 ]

echo new >"$T/sub/new.txt"
step "$W" rule.xml "a new file" 1 "create $T/sub/new.txt"
rm "$T/gone.txt"
step "$W" rule.xml "a removed file" 2 "delete $T/gone.txt"
mv "$T/moving.txt" "$T/sub/moved.txt"
step "$W" rule.xml "a rename" 8 "rename $T/moving.txt -> $T/sub/moved.txt"
cp "$T/twice.txt" "$T/twice-1.txt"
cp "$T/twice.txt" "$T/twice-2.txt"
rm "$T/twice.txt"
step "$W" rule.xml "one content in two new files, the old one gone" 3 \
    "delete $T/twice.txt" "create $T/twice-1.txt" "create $T/twice-2.txt"
cp "$T/sub/keep.txt" "$T/kept-copy.txt"
step "$W" rule.xml "a copy" 1 "create $T/kept-copy.txt"
mv "$T/small.txt" "$T/small-renamed.txt"
step "$W" rule.xml "a small file renamed" 3 "delete $T/small.txt" "create $T/small-renamed.txt"
history "$W" >"$WORK/before"
step "$W" rule.xml "a second check after the changes" 0
history "$W" >"$WORK/after"
check "the second check keeps the history as it was" cmp -s "$WORK/before" "$WORK/after"

# More events at once than a look reads at first: each is shown, once.
mkdir "$T/burst"
for i in $(seq 1200); do echo "burst file $i" >"$T/burst/f$i"; done
expect_status 1 "check: a burst of new files" -- "$AGENT" --workdir "$W" --config "$WORK/rule.xml" check
check "a burst: all 1200 creates are shown" [ "$(events | grep -c "^create $T/burst/f")" = 1200 ]
check "a burst: none is shown twice" [ -z "$(events | uniq -d)" ]

# A burst beyond what one look holds: the newest 4,000 are shown, the user is
# told where the rest are, and the count is of them all.
mkdir "$T/flood"
(cd "$T/flood" && seq 4100 | xargs touch)
expect_status 1 "check: a flood of new files" -- "$AGENT" --workdir "$W" --config "$WORK/rule.xml" check
check "a flood: the newest 4000 creates are shown" [ "$(events | grep -c "^create $T/flood/")" = 4000 ]
expect_text "$WORK/out" "completed in .*: 4100 created$" "a flood: the count is of every create"
expect_text "$WORK/err" "more events came at once than could be shown; kvo-agent events lists them all" \
    "a flood: the user is told where the rest are"
rm -r "$T/flood"
expect_status 2 "check: the flood removed" -- "$AGENT" --workdir "$W" --config "$WORK/rule.xml" check

# More events kept than one query hands out, the newest recorded at a time
# that narrows to a negative 32-bit number: the new event is still shown.
sqlite3 "$W/si.db" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
    INSERT INTO [IntegrityEvents]([recorded],[integrityRuleId],[change],[entityType],[key])
    SELECT i, 7, 1, 'File', '/kept/' || i FROM n;
    INSERT INTO [IntegrityEvents]([recorded],[integrityRuleId],[change],[entityType],[key])
    VALUES (2147503648, 7, 1, 'File', '/kept/last');"
echo "after many kept events" >"$T/after-kept.txt"
step "$W" rule.xml "a change after 20,001 kept events" 1 "create $T/after-kept.txt"

step "$W" edited.xml "the rule edited" 16
expect_text "$WORK/out" "(the rules changed)" "the check says the rules changed"
step "$W" edited.xml "after the new baseline" 0

# Event mode 2: JSON lines in events.jsonl, no IntegrityEvents rows.
J=$WORK/json
expect_status 0 "the baseline in event mode 2" -- "$AGENT" --workdir "$J" --config "$WORK/json.xml" baseline
echo "edit me, in event mode 2" >"$T/edit.txt"
echo more >"$T/more.txt"
step "$J" json.xml "event mode 2" 5 "update $T/edit.txt" "create $T/more.txt"
expect_text "$WORK/out" "^    size: 26 -> 25$" "event mode 2: the update shows the old and new size"
check "event mode 2 writes no IntegrityEvents rows" [ "$(sqlite3 "$J/si.db" "SELECT COUNT(*) FROM [IntegrityEvents];")" = 0 ]
check "event mode 2: consecutive integrityEventId values" [ "$(python3 -c '
import json, sys
ids = [int(json.loads(l)["integrityEventId"]) for l in open(sys.argv[1])]
print(ids == list(range(ids[0], ids[0] + len(ids))) and len(ids) == 2)' "$J/events.jsonl")" = True ]
rm "$T/more.txt"
expect_status 2 "check --json" -- "$AGENT" --workdir "$J" --config "$WORK/json.xml" check --json
check "check --json prints one JSON line per event" [ "$(python3 -c '
import json, sys
print([(e["change"], e["key"]) for e in map(json.loads, open(sys.argv[1]))])' "$WORK/out")" = "[('delete', '$T/more.txt')]" ]

# The agent's own work directory inside the tree: its database and logs change
# with every scan, and are never recorded.
I=$T/sub/agent-work
expect_status 0 "a baseline with the work directory inside the tree" -- "$AGENT" --workdir "$I" --config "$WORK/rule.xml" baseline
step "$I" rule.xml "a check with the work directory inside the tree" 0
check "nothing of the work directory is recorded" \
    [ "$(sqlite3 "$I/si.db" "SELECT COUNT(*) FROM [Entitys] WHERE [key] LIKE '$I%';")" = 0 ]

finish
