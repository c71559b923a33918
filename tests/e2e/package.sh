# The Debian package as an administrator meets it: built with Debian's own
# tooling, lintian-clean, installed, started as its unit starts it, recording a
# baseline and a change, upgraded under the running agent without losing
# either, and purged without leaving a file behind.
source "$(dirname "$0")/common.bash" "$@"
[ "$(id -u)" -eq 0 ] || { echo "package: needs root (it installs the package); skipped"; exit 0; }
if dpkg-query -W -f='${Status}' kvo-agent 2>/dev/null | grep -q 'ok installed'; then
    echo "package: kvo-agent is installed on this host and the test would purge it; skipped"
    exit 0
fi
UNIT=/lib/systemd/system/kvo-agent.service
STATE=/var/lib/kvo
PROBE=/etc/kvo-package-test.conf
AGENT_PID=
stop_agent() { [ -z "$AGENT_PID" ] || { kill -TERM "$AGENT_PID"; wait "$AGENT_PID"; AGENT_PID=; }; }
trap 'stop_agent; kill $NOTIFY_PID 2>/dev/null; dpkg --purge kvo-agent >/dev/null 2>&1; rm -f "$PROBE"; rm -rf "$WORK"
      [ -d /run/systemd/system ] && systemctl unmask --runtime kvo-agent' EXIT
# Where systemd runs, the package would start the service itself: the test
# starts the agent as the unit does, with the environment systemd gives it.
[ -d /run/systemd/system ] && systemctl mask --runtime kvo-agent

version=$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Version)
# A newer upstream version: the programs must report it once it is installed.
upgrade=${version%-*}+upgrade1-1
for v in "$version" "$upgrade"; do
    make -C "$SRC" --no-print-directory package PACKAGE_WORK="$WORK/deb" PACKAGE_OUT="$WORK/$v" \
        PACKAGE_VERSION="$([ "$v" = "$version" ] || echo "$v")" >"$WORK/build.log" 2>&1 ||
        { echo "FAIL: make package $v:"; tail -30 "$WORK/build.log"; exit 1; }
done
deb=$(ls "$WORK/$version"/kvo-agent_*.deb)
lintian --fail-on error,warning "$deb" >"$WORK/lintian" 2>&1
status=$?
check "lintian finds no error or warning: $(cat "$WORK/lintian")" [ $status -eq 0 ]
sed 's/^/    lintian: /' "$WORK/lintian"

check "the package installs" dpkg -i "$deb"
check "the agent reports the package's version [$(kvo-agent --version)]" [ "$(kvo-agent --version)" = "kvo-agent ${version%-*}" ]
check "a private work directory" [ "$(stat -c %a "$STATE")" = 700 ]
check "the configuration is a conffile" dpkg-query -W -f='${Conffiles}' kvo-agent | grep -q /etc/kvo/kvo-agent.xml
check "the man pages are found" man -w kvo-agent.xml kvo-agent
systemd-analyze verify "$UNIT" >"$WORK/verify" 2>&1
status=$?
check "systemd-analyze verify finds nothing: $(cat "$WORK/verify")" [ $status -eq 0 -a ! -s "$WORK/verify" ]

# Started with its unit's command line and the environment systemd gives it.
nc -lkuU "$WORK/notify" >"$WORK/notified" &
NOTIFY_PID=$!
touch "$WORK/journal"
start_agent() {
    NOTIFY_SOCKET=$WORK/notify WATCHDOG_USEC=2000000 JOURNAL_STREAM=$(stat -c %d:%i "$WORK/journal") \
        $(sed -n 's/^ExecStart=//p' "$UNIT") >>"$WORK/journal" 2>&1 &
    AGENT_PID=$!
    check "systemd is told READY ($1)" wait_for "$WORK/notified" READY=1 "$1"
}
start_agent 1
expect_text "$WORK/journal" "^<6>INFO kvo-agent .* running in /var/lib/kvo" "the journal gets priorities, not times"
check "a baseline of the packaged configuration" wait_for "$STATE/agent-events.log" '^8000|'
check "the watchdog is fed" wait_for "$WORK/notified" WATCHDOG=1
echo probe >"$PROBE"
events() { kvo-agent events --limit 100000 2>&1 | grep -c "create .* File $PROBE\$"; }
for _ in $(seq 60); do [ "$(events)" = 1 ] && break; sleep 1; done
check "a new file in /etc is reported" [ "$(events)" = 1 ]
checks=$(grep -c '^8002|' "$STATE/agent-events.log")

# Upgraded while it runs; then restarted as systemd restarts it after an upgrade.
check "the newer package installs over the running agent" dpkg -i "$WORK/$upgrade"/kvo-agent_*.deb
check "and reports its version [$(kvo-agent --version)]" [ "$(kvo-agent --version)" = "kvo-agent ${upgrade%-*}" ]
stop_agent
check "systemd is told STOPPING" grep -q STOPPING=1 "$WORK/notified"
start_agent 2
check "the restart checks" wait_for "$STATE/agent-events.log" '^8002|' $((checks + 1))
check "instead of recording the baseline again" [ "$(grep -c '^8000|' "$STATE/agent-events.log")" = 1 ]
check "the change is still reported once" [ "$(events)" = 1 ]
stop_agent

dpkg -L kvo-agent >"$WORK/files"
check "the package purges" dpkg --purge kvo-agent
left=$(while read -r f; do [ ! -d "$f" ] && [ -e "$f" -o -L "$f" ] && echo "$f"; done <"$WORK/files")
check "no file left behind: $left $(ls -d $STATE /etc/kvo 2>/dev/null)" \
    [ -z "$left" -a ! -e $STATE -a ! -e /etc/kvo -a ! -L /etc/systemd/system/multi-user.target.wants/kvo-agent.service ]
finish
