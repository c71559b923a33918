# Entities that come from outside the agent: a baseline exported with
# entities --xml and fed, edited, into a check that hands its file scan over;
# records refused whole; the hand-over of VM-safe guest mode through the mirt
# module; and scan-root of a tree mounted elsewhere, which must give what a
# local baseline gives.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

T=$WORK/tree
mkdir -p "$T"
for f in a b c; do echo "content of $f, long enough to be worth a rename" >"$T/$f"; done
config_xml "" 'id="1" name="Tree" identifier="1001" severity="2"' \
    "<FileSet base=\"$T\"><Include key=\"**/*\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>" >"$WORK/config.xml"
W=$WORK/w
A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")

until_ok() {
    for _ in $(seq 600); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
# start_agent SETTINGS...: kvo-agent run with the settings, in the background, serving its socket.
start_agent() {
    "${A[@]}" "$@" run >"$WORK/run.out" 2>"$WORK/run.err" &
    pid=$!
    check "run serves its socket ($*)" until_ok test -S "$W/kvo-agent.sock"
}
stop_agent() { kill -TERM $pid; wait $pid; }
# events_of FILE: "change key" of each event check printed, sorted.
events_of() { sed -nE 's/^[0-9]+ [0-9]{4}-[0-9T:.Z-]+ ([a-z]+) \[1001 - Tree\] File (.*)$/\1 \2/p' "$1" | sort; }

expect_status 0 "baseline" -- "${A[@]}" baseline
expect_status 0 "entities --xml" -- "${A[@]}" entities --xml
cp "$WORK/out" "$WORK/records"
check "one record per line and file" [ "$(grep -c '^<Entity .*</Entity>$' "$WORK/records")" = 3 ]

# b's content changed, c gone, d new (with content of its own, so no move of c).
digest=$(printf '%064d' 1)
sed -E "/key=\"${T//\//\\/}\/b\"/s/(name=\"sha256\" value=\")[0-9a-f]+/\1$digest/" "$WORK/records" |
    grep -v "key=\"$T/c\"" >"$WORK/edited"
grep "key=\"$T/a\"" "$WORK/records" | sed -E "s|$T/a|$T/d|g; s/(name=\"sha256\" value=\")[0-9a-f]+/\1$(printf '%064d' 2)/" >>"$WORK/edited"

start_agent --set zel.im.testExternalEntities=true
set_id=$(grep -o 'entitySetId="[0-9]*"' "$WORK/records" | head -1)
printf '%s\n' 'not xml at all' \
    "<Entity entityType=\"Fiel\" $set_id integrityRuleId=\"1\" keyCanonical=\"/x\"/>" \
    "<Entity entityType=\"File\" entitySetId=\"99\" integrityRuleId=\"1\" keyCanonical=\"/y\"/>" \
    "$(head -1 "$WORK/edited")" >"$WORK/bad"
expect_status 65 "feed refuses bad records" -- "${A[@]}" feed "$WORK/bad"
for reason in "line 1: not an XML element" "line 2: unknown entity type 'Fiel'" \
    "line 3: there is no File entity set 99" "3 of 4 records refused; nothing was fed"; do
    expect_text "$WORK/err" "$reason" "feed names what it refuses"
done

"${A[@]}" check >"$WORK/check.out" 2>"$WORK/check.err" &
check_pid=$!
expect_status 0 "feed of the edited export" -- "${A[@]}" feed "$WORK/edited"
expect_text "$WORK/out" "fed 3 entity records to the running agent (File 3)" "feed counts what it handed over"
wait $check_pid
check "check fed from outside finds one of each change (exit 7)" [ $? = 7 ]
events_of "$WORK/check.out" >"$WORK/got"
printf '%s\n' "create $T/d" "delete $T/c" "update $T/b" >"$WORK/want"
check "exactly the three changes, nothing of the refused records" cmp -s "$WORK/got" "$WORK/want"
stop_agent

# VM-safe guest: the scan is asked of the external scanner (the mirt module) first.
start_agent --set kvo.mode.vmsafeGuest=true --set uuid=guest-7
"${A[@]}" check >"$WORK/check.out" 2>"$WORK/check.err" &
check_pid=$!
check "the request reaches the work directory" until_ok grep -q '^incremental guest-7 ' "$W/external-scan.request"
expect_status 0 "feed of the original export" -- "${A[@]}" feed <"$WORK/records"
wait $check_pid
check "the guest's check sees the tree as exported (exit 7)" [ $? = 7 ]
stop_agent

# scan-root: /usr/share/doc copied and mounted elsewhere gives the keys and
# digests of a local baseline of /usr/share/doc. Only files with content are
# compared: a link that leaves the copy resolves differently inside it.
M=$WORK/image/usr/share/doc
mkdir -p "$M" "$WORK/copy"
if [ "$(id -u)" != 0 ] || ! mount --bind "$WORK/copy" "$M"; then
    echo "SKIP: scan-root of a bind mount needs root and mounts"
else
    trap 'umount "$M" 2>/dev/null; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT
    cp -a /usr/share/doc/. "$WORK/copy"
    config_xml "" 'id="1" name="Doc" identifier="1001" severity="2"' \
        '<FileSet base="/usr/share/doc"><Include key="**/*"/><Attributes><sha256/><size/></Attributes></FileSet>' \
        >"$WORK/doc.xml"
    D=("$AGENT" --workdir "$WORK/doc" --config "$WORK/doc.xml")
    expect_status 0 "local baseline of /usr/share/doc" -- "${D[@]}" baseline
    expect_status 0 "its records" -- "${D[@]}" entities --xml
    key_digest() { sed -nE 's/.* key="([^"]*)".*name="sha256" value="([0-9a-f]+)".*/\1 \2/p' "$1" | sort; }
    key_digest "$WORK/out" >"$WORK/local"
    expect_status 0 "scan-root of the mounted copy" -- "${D[@]}" scan-root "$WORK/image"
    key_digest "$WORK/out" >"$WORK/mounted"
    check "scan-root: the same keys and digests as the local baseline" cmp -s "$WORK/local" "$WORK/mounted"
    check "scan-root: no key names the mount" [ "$(grep -c "$WORK" "$WORK/out")" = 0 ]
    check "scan-root: every file of the copy" [ "$(wc -l <"$WORK/mounted")" = "$(find "$WORK/copy" -type f | wc -l)" ]
fi
finish
