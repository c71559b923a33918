# Host objects end to end: the users, groups, listening ports, processes and
# installed packages a baseline records are those the system's own tools list
# (getent, ss, dpkg-query, /proc), and those a feature selects (a second set of
# a type, from the same query); a check reports exactly the accounts (names
# that differ only in case are two), group, listener and program that came and
# went; an agent that may not read
# /etc/shadow records the users without what only shadow holds; and a
# pseudo-real-time scan of these types runs and closes.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
[ "$(id -u)" -eq 0 ] || { echo "host_objects: needs root (it adds an account); skipped"; exit 0; }

U=kvo$$u
G=kvo$$g
LISTENER=
SLEEPERS=()
cleanup() {
    userdel "$U" 2>/dev/null
    userdel "${U^^}" 2>/dev/null
    groupdel "$G" 2>/dev/null
    groupdel "$U" 2>/dev/null
    kill $LISTENER "${SLEEPERS[@]}" 2>/dev/null
    wait 2>/dev/null
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
nc -d -l 127.0.0.1 "$PORT" </dev/null >/dev/null 2>&1 &
LISTENER=$!
# start_program NAME: a copy of sleep at a path of its own, running.
start_program() {
    cp "$(command -v sleep)" "$WORK/$1"
    "$WORK/$1" 600 &
    SLEEPERS+=($!)
}
start_program kvo-first
for _ in $(seq 100); do ss -H -ltn "sport = :$PORT" | grep -q . && break; sleep 0.1; done

# config AGENT_ATTRIBUTES ALLOW_ON_CHANGE: one rule over every kind of host object.
config() {
    cat <<XML
<SecurityConfiguration><AgentConfiguration systemIntegrityAllowOnChange="$2" $1/><IntegrityRules>
<IntegrityRule id="9" name="Host" identifier="1009" severity="2" allowOnChange="$2">
  <UserSet><Include key="*"/><Attributes><user/><group/><groups/><logonShell/><passwordLastChanged/></Attributes></UserSet>
  <GroupSet><Include key="*"/><Attributes><group/><members/></Attributes></GroupSet>
  <PortSet><Include key="*"/><Attributes><listeners/><process/><user/></Attributes></PortSet>
  <ProcessSet><Include key="$WORK/*"/><Attributes><path/><user/></Attributes></ProcessSet>
  <InstalledSoftwareSet><Include key="*"/><Attributes><version/></Attributes></InstalledSoftwareSet>
</IntegrityRule>
<IntegrityRule id="10" name="By feature" identifier="1010" severity="2" allowOnChange="$2">
  <UserSet><Include key="*" group="root"/><Attributes><user/></Attributes></UserSet>
  <PortSet><Include key="*" user="ro*" process="nc"/><Attributes><listeners/></Attributes></PortSet>
</IntegrityRule></IntegrityRules></SecurityConfiguration>
XML
}
config "" false >"$WORK/host.xml"
W=$WORK/w
A=("$AGENT" --workdir "$W" --config "$WORK/host.xml")
db() { sqlite3 "$W/si.db" "$1"; }
# recorded TYPE [ATTRIBUTE]: "key" or "key value" of each current entity of TYPE in rule 9, sorted.
recorded() {
    db "SELECT e.[key] || IFNULL(' ' || a.[value], '') FROM [Entitys] AS e LEFT JOIN [Attributes] AS a
        ON a.[entityId]=e.[entityId] AND a.[name]='${2:-}' WHERE e.[entityType]='$1' AND e.[integrityRuleId]=9 AND e.[supercededBy] IS NULL
        AND e.[key]<>'';" | sort
}
same_as() {  # same_as WHAT EXPECTED ACTUAL
    check "$1: $(diff <(echo "$2") <(echo "$3") | head -5 | tr '\n' ' ')" [ "$2" = "$3" ]
}

expect_status 0 "the baseline" -- "${A[@]}" baseline
same_as "users are getent's" "$(getent passwd | cut -d: -f1 | sort)" "$(recorded User)"
same_as "groups and their members are getent's" "$(getent group | awk -F: '{ print $1 ($4 == "" ? "" : " " $4) }' | sort)" \
    "$(recorded Group members)"
same_as "packages and versions are dpkg's" \
    "$(dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' | awk '$1 == "ii" { print $2, $3 }' | sort)" \
    "$(recorded InstalledSoftware version)"
same_as "ports are those ss lists" "$(ss -H -ltnu | awk '{ n = split($5, a, ":"); print $1 "/" a[n] }' | sort -u)" \
    "$(recorded Port)"
same_as "the listener's process" "tcp/$PORT nc" "$(recorded Port process | grep "^tcp/$PORT ")"
same_as "the programs under the test's directory" "$WORK/kvo-first" "$(recorded Process)"
same_as "features select by primary group name, and by owner and program" \
    "$(getent passwd | awk -F: '$4 == 0 { print $1 }' | sort; echo "tcp/$PORT")" \
    "$(db "SELECT [key] FROM [Entitys] WHERE [integrityRuleId]=10 AND [supercededBy] IS NULL AND [key]<>'' ORDER BY [entityType] DESC, [key];")"

# events: "change type key" of each event line the check printed, sorted.
events() { sed -nE 's/^[0-9]+ [0-9T:.Z-]+ ([a-z]+) \[1009 - Host\] ([A-Za-z]+) (.*)$/\1 \2 \3/p' "$WORK/out" | sort; }
step() {  # step WHAT STATUS EVENT...
    local what=$1 want=$2
    shift 2
    expect_status "$want" "check: $what" -- "${A[@]}" check
    same_as "check: $what" "$(printf '%s\n' "$@" | sort)" "$(events)"
}
useradd -M -s /usr/sbin/nologin "$U"
# The same name in capitals is another account.
useradd -M -N -s /usr/sbin/nologin --badname "${U^^}"
groupadd "$G"
step "accounts and a group added" 1 "create User $U" "create User ${U^^}" "create Group $U" "create Group $G"
usermod -g "$G" -aG "$G" "$U"
step "the account moved to the group" 4 "update User $U" "update Group $G"
expect_text "$WORK/out" "^    group: $U -> $G\$" "the update names the old and new primary group"
expect_text "$WORK/out" "^    groups: (none) -> $G\$" "the update shows the account's new group"
kill "$LISTENER"
wait "$LISTENER" 2>/dev/null
start_program kvo-second
step "the listener stopped, a program started" 3 "delete Port tcp/$PORT" "create Process $WORK/kvo-second"
expect_status 0 "entities" -- "${A[@]}" entities --limit 100000
expect_text "$WORK/out" "User \[1009 - Host\] $U\$" "entities lists the account"
expect_text "$WORK/out" "^    user: 0 (root)\$" "entities names the user behind an id"

# Without access to /etc/shadow: every user still, no shadow attribute, and the scan completes.
N=$WORK/nobody
mkdir -m 700 "$N" && chown nobody "$N" && chmod 755 "$WORK"
expect_status 0 "a baseline without access to /etc/shadow" -- setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$AGENT" --workdir "$N/w" --config "$WORK/host.xml" baseline
check "the users are recorded without their shadow attributes" [ "$(sqlite3 "$N/w/si.db" "SELECT COUNT(*) FROM
    [Entitys] WHERE [entityType]='User' AND [integrityRuleId]=9 AND [supercededBy] IS NULL;") $(sqlite3 "$N/w/si.db" "SELECT COUNT(*) FROM
    [Attributes] WHERE [name]='passwordLastChanged';")" = "$(getent passwd | wc -l) 0" ]

# With on-change allowed and the real-time engine turned off: a pseudo-real-time scan of kind 3 runs and
# closes; the legacy real-time thread polls processes every 5 s as set, moves a new program's start (who, with what) into si.db, and wakes
# from its 5-s sleep at once when the agent stops.
config 'systemIntegrityOnchangeBackoffMinMS="10000" systemIntegrityOnchangeBackoffMaxMS="10000"' true >"$WORK/onchange.xml"
P=$WORK/p
"$AGENT" --workdir "$P" --config "$WORK/onchange.xml" --trace zel.im.scanner.onChange \
    --set zel.im.OnChange.ProcessCheckFrequency=5 --set kvo.realtime=off run >"$WORK/run.out" 2>&1 &
RUN=$!
check "a pseudo-real-time scan of host objects closed" until_true 240 eval \
    '[ "$(sqlite3 "$P/si.db" "SELECT COUNT(*) FROM [Scans] WHERE [incrementalScan]=3 AND [endTime]>0;" 2>/dev/null)" = 1 ]'
polls=$(grep -c pidsRunningNow "$P/kvo-agent.log")
check "the thread polls" until_true 30 eval '[ "$(grep -c pidsRunningNow "$P/kvo-agent.log")" -gt "$polls" ]'
start_program kvo-late  # just after a poll: found by the next, 5 s on, not 15 s or a minute
check "the next poll finds the program" until_true 9 grep -q "logMsg: Process $WORK/kvo-late created" "$P/kvo-agent.log"
check "its start is moved into si.db" until_true 30 grep -q "Moved 1 change records" "$P/kvo-agent.log"
stop=$(date +%s%N)
kill $RUN && wait $RUN
check "a stop ends the 5-s sleep at once" [ $((($(date +%s%N) - stop) / 1000000)) -lt 3000 ]
check "the start with its user and process is in si.db" [ "$(sqlite3 "$P/si.db" "SELECT (SELECT COUNT(*) FROM
    [RealtimeChanges] JOIN [ChangeDetails] USING([realtimeChangeId]) WHERE [keyCanonical]='$WORK/kvo-late' AND [change]=1
    AND [user]='root' AND [process]='bash/${SLEEPERS[-1]}') + (SELECT COUNT(*) FROM [IntegrityEvents] WHERE
    [key]='$WORK/kvo-late' AND [change]=1 AND [user]='root' AND [process]='bash/${SLEEPERS[-1]}');")" = 1 ]
finish
