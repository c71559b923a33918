# kvo-agent run and the commands given while it runs: they are carried out
# inside the running agent through <workdir>/kvo-agent.sock, so a query during
# its scan is refused, check asks it for the scan and gets that scan's events,
# and run shows the events as they are recorded; SIGHUP makes it take up a
# rule added to the configuration; a socket left by a dead agent is ignored.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

T=$WORK/tree
for d in $(seq 15); do
    mkdir -p "$T/d$d"
    for f in $(seq 20); do echo "file $d/$f of the watched tree" >"$T/d$d/f$f.conf"; done
done
mkdir -p "$WORK/later"
echo "a file the second rule watches" >"$WORK/later/added.conf"

# config CPU_LIMIT [SECOND_RULE [ALLOW_ON_CHANGE]]: the tree's rule, and with a second argument a
# rule over "later" too.
config() {
    cat <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="${3:-false}" systemIntegrityCPULimit="$1"/>
  <IntegrityRules>
    <IntegrityRule id="1" name="Tree" identifier="1001" severity="2" allowOnChange="false">
      <FileSet base="$T"><Include key="**/*.conf"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>
    </IntegrityRule>
XML
    [ $# -gt 1 ] && cat <<XML
    <IntegrityRule id="2" name="Later" identifier="1002" severity="2" allowOnChange="false">
      <FileSet base="$WORK/later"><Include key="*.conf"/><Attributes><STANDARD/></Attributes></FileSet>
    </IntegrityRule>
XML
    echo "  </IntegrityRules>"
    echo "</SecurityConfiguration>"
}
# The baseline is slowed down so that it can be met in progress.
config 2 >"$WORK/config.xml"
W=$WORK/w
# Keeping one delivered event makes a confirmed delivery visible at once.
A=("$AGENT" --workdir "$W" --config "$WORK/config.xml" --set zel.im.eventsToRetain=1)

# until COMMAND...: until it succeeds, at most 60 s.
until_ok() {
    for _ in $(seq 600); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
status_says() { "${A[@]}" status 2>/dev/null | grep -q -- "$1"; }

"${A[@]}" run >"$WORK/run.out" 2>"$WORK/run.err" &
pid=$!
check "run serves its socket" until_ok test -S "$W/kvo-agent.sock"
check "the socket is private (mode 600)" [ "$(stat -c %a "$W/kvo-agent.sock")" = 600 ]
check "the baseline is met in progress" until_ok status_says "integrity scan: baseline scan in progress"

expect_status 75 "entities --confirm during the scan" -- "${A[@]}" entities --confirm 1
expect_text "$WORK/err" "entities: Integrity scan in progress" "the refusal is the agent's"
expect_status 75 "dump during the scan" -- "${A[@]}" dump
expect_status 0 "events during the scan: a window is served" -- "${A[@]}" events
expect_status 0 "status from the running agent" -- "${A[@]}" status
expect_text "$WORK/out" "statistics of the running agent:" "status counts in the running agent"
# check meets the baseline in progress and waits for it: there is nothing to compare with yet.
expect_status 16 "check during the baseline" -- "${A[@]}" check
expect_text "$WORK/err" "the running agent is in the middle of baseline scan 1" "check says what it waits for"
expect_status 75 "a second run" -- "${A[@]}" run
check "one agent ran all of it" kill -0 $pid

# The limit is no rule: lifting it on SIGHUP records no new baseline.
config 100 >"$WORK/config.xml"
kill -HUP $pid
echo "edited" >>"$T/d1/f1.conf"
rm "$T/d2/f2.conf"
echo "a new file" >"$T/d3/new.conf"
expect_status 7 "check through the running agent" -- "${A[@]}" check
sed -nE 's/^[0-9]+ [0-9]{4}-[0-9T:.Z-]+ ([a-z]+) \[1001 - Tree\] File (.*)$/\1 \2/p' "$WORK/out" | sort >"$WORK/got"
printf '%s\n' "create $T/d3/new.conf" "delete $T/d2/f2.conf" "update $T/d1/f1.conf" >"$WORK/want"
check "check shows the scan's events" cmp -s "$WORK/got" "$WORK/want"
check "run shows them as they are recorded" until_ok grep -q "^[0-9]* .* update \[1001 - Tree\] File $T/d1/f1.conf$" "$WORK/run.out"
# What run and check read for people purged nothing; a delivery confirmed to the running agent does.
check "the three events are kept" [ "$("${A[@]}" events | grep -c '^[0-9]')" = 3 ]
expect_status 0 "events confirming delivery up to event 3" -- "${A[@]}" events --confirm 3
check "the events before the one kept are purged" [ "$("${A[@]}" events | grep -c '^[0-9]')" = 1 ]
check "only the agent's own scans ran" [ "$(sqlite3 "$W/si.db" "SELECT COUNT(*) FROM [Scans];")" = 2 ]

# A rule added to the configuration is taken up on SIGHUP: the agent records its baseline.
# On-change allowed from now on needs a restart, and the log says so.
config 100 second true >"$WORK/config.xml"
kill -HUP $pid
has_later() { "${A[@]}" entities --limit 2000 | grep -q "^[0-9]* File \[1002 - Later\] $WORK/later/added.conf$"; }
check "after SIGHUP the new rule's file is in the baseline" until_ok has_later
check "on-change turned on by a reload is said to need a restart" \
    until_ok grep -q "the configuration now allows on-change; the real-time engine starts when the agent restarts" "$W/kvo-agent.log"
# Listing reads rows as they are recorded: the baseline may still be completing.
idle() { "${A[@]}" status | grep -q "^integrity scan: idle"; }
check "the new rule's baseline completes" until_ok idle
expect_status 0 "check after the new rule's baseline" -- "${A[@]}" check

# What is not a request gets a reason and a usage status, and the agent serves on.
ask() {
    python3 - "$W/kvo-agent.sock" "$1" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(sys.argv[2].encode() + b"\n")
print(b"".join(iter(lambda: s.recv(4096), b"")).decode(), end="")
PY
}
ask 'status please' >"$WORK/answer"
expect_text "$WORK/answer" '^{"err":"kvo-agent: the request is not' "a line that is not JSON is refused"
expect_text "$WORK/answer" '^{"exit":64}$' "with the usage status"
ask '{"command":"run","arguments":[]}' >"$WORK/answer"
expect_text "$WORK/answer" '^{"exit":64}$' "run is not carried out inside the agent"
ask '{"command":"status"}' >"$WORK/answer"
expect_text "$WORK/answer" '^{"out":"integrity scan: idle\\n"}$' "a request without arguments is served"

kill -TERM $pid
wait $pid
check "run ended cleanly" [ $? -eq 0 ]
check "the socket is gone with the agent" [ ! -e "$W/kvo-agent.sock" ]

# A socket file whose agent died: commands run on their own, and the next run replaces it.
python3 -c "import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])" "$W/kvo-agent.sock"
expect_status 0 "status beside a dead agent's socket" -- "${A[@]}" status
expect_text "$WORK/out" "statistics of this process" "status ran on its own"
"${A[@]}" run >/dev/null 2>&1 &
pid=$!
check "a new run serves the socket again" until_ok status_says "statistics of the running agent"
kill -TERM $pid
wait $pid

finish
