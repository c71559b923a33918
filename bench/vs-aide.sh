#!/bin/bash
# Baseline speed against AIDE's database initialisation, and the check of the
# unchanged tree against AIDE's check, on the same tree, the same machine and a
# warm page cache:
#   kvo-agent baseline  STANDARD attributes plus inodeNumber, contents as sha256
#   aide --init         p+u+g+m+c+i+s+n+sha256 (the same data: one digest)
#   the floor           sha256sum of every file plus a stat walk with find
#   kvo-agent check     an incremental scan against that baseline
#   aide --check        the tree against the database aide --init wrote
#   the two kvo-agent runs again with si.db encrypted (AES-256), for its cost
# Prints each one's wall and CPU time, peak RSS, entities and database size,
# and the ratios.
# Usage: vs-aide.sh [KVO_AGENT [TREE]]   (default: the agent beside this build, /usr/share)
# ROUNDS (environment, default 3): rounds of the three; the best of each counts.
# Installs AIDE from Debian when it is missing (through sudo unless root).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
AGENT=${1:-$here/../bin/kvo-agent}
TREE=${2:-/usr/share}
ROUNDS=${ROUNDS:-3}
[ -x "$AGENT" ] || { echo "vs-aide: no agent at $AGENT (give its path)" >&2; exit 64; }
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

if ! command -v aide >/dev/null; then
    sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "vs-aide: installing AIDE from Debian" >&2
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends aide >&2
fi
for tool in /usr/bin/time sqlite3 sha256sum; do
    command -v "$tool" >/dev/null || { echo "vs-aide: $tool is missing" >&2; exit 69; }
done

TMP=$(mktemp -d /tmp/kvo-vs-aide-XXXXXX)
trap 'rm -rf "$TMP"' EXIT

cat >"$TMP/kvo.xml" <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="false" contentShortHandMapping="sha256"/>
  <IntegrityRules>
    <IntegrityRule id="1" name="Benchmark tree" identifier="1001" severity="1" allowOnChange="false">
      <FileSet base="$TREE"><Include key="**"/><Attributes><STANDARD/><inodeNumber/></Attributes></FileSet>
      <DirectorySet base="$TREE"><Include key="**"/><Attributes><STANDARD/><inodeNumber/></Attributes></DirectorySet>
    </IntegrityRule>
  </IntegrityRules>
</SecurityConfiguration>
XML

echo "aes256:benchmark key" >"$TMP/key" && chmod 600 "$TMP/key"
sed 's|<AgentConfiguration |<AgentConfiguration integrityDatabaseKeyFile="key" |' "$TMP/kvo.xml" >"$TMP/kvo-enc.xml"

cat >"$TMP/aide.conf" <<CONF
database_in=file:$TMP/aide.db
database_out=file:$TMP/aide.db.new
gzip_dbout=no
report_url=stdout
Bench = p+u+g+m+c+i+s+n+sha256
=$TREE\$ Bench
$TREE/ Bench
CONF

# timed NAME COMMAND...: appends "wall-s peak-RSS-kB cpu-s" to $TMP/NAME.times.
# A check that finds changes (exit status other than 0) fails too: the tree is
# to stay unchanged, or the two checks do different work.
timed() {
    local name=$1
    shift
    /usr/bin/time -f "%e %M %U %S" -o "$TMP/time" "$@" >"$TMP/$name.out" 2>"$TMP/$name.err" || {
        echo "vs-aide: $name failed:" >&2
        tail -5 "$TMP/$name.err" "$TMP/$name.out" >&2
        exit 70
    }
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$TMP/time" >>"$TMP/$name.times"
}
floor() {
    find "$1" -type f -print0 | xargs -0 -r sha256sum >/dev/null
    find "$1" -printf '%i %m %u %g %s %T@ %C@ %n\n' >/dev/null
}
export -f floor

echo "warming the page cache over $TREE ..." >&2
find "$TREE" -type f -print0 | xargs -0 -r cat >/dev/null 2>&1 || true

# Rounds take turns, so that a load that comes and goes on a shared machine
# hits them all alike; the best round of each is what counts.
for round in $(seq "$ROUNDS"); do
    echo "round $round of $ROUNDS: kvo-agent baseline, aide --init, floor, kvo-agent check, aide --check ..." >&2
    rm -rf "$TMP/kvo-work" "$TMP/kvo-enc-work" "$TMP/aide.db.new" "$TMP/aide.db"
    timed kvo "$AGENT" --workdir "$TMP/kvo-work" --config "$TMP/kvo.xml" baseline
    timed aide aide --config "$TMP/aide.conf" --init
    timed floor bash -c 'floor "$0"' "$TREE"
    cp "$TMP/aide.db.new" "$TMP/aide.db"
    timed kvo-check "$AGENT" --workdir "$TMP/kvo-work" --config "$TMP/kvo.xml" check
    timed aide-check aide --config "$TMP/aide.conf" --check
    timed kvo-enc "$AGENT" --workdir "$TMP/kvo-enc-work" --config "$TMP/kvo-enc.xml" baseline
    timed kvo-enc-check "$AGENT" --workdir "$TMP/kvo-enc-work" --config "$TMP/kvo-enc.xml" check
done

kvo_entities=$(sqlite3 "$TMP/kvo-work/si.db" \
    "SELECT COUNT(*) FROM [Entitys] WHERE [supercededBy] IS NULL AND [key] IS NOT NULL;")
kvo_bytes=$(stat -c %s "$TMP/kvo-work/si.db")
aide_entities=$(grep -c '^/' "$TMP/aide.db.new" || true)
aide_bytes=$(stat -c %s "$TMP/aide.db.new")
floor_entities=$(find "$TREE" | wc -l)

# best NAME: the round with the shortest wall time.
best() { sort -n "$TMP/$1.times" | head -1; }
read -r kvo_s kvo_kb kvo_cpu < <(best kvo)
read -r aide_s aide_kb aide_cpu < <(best aide)
read -r floor_s floor_kb floor_cpu < <(best floor)
read -r kvoc_s kvoc_kb kvoc_cpu < <(best kvo-check)
read -r aidec_s aidec_kb aidec_cpu < <(best aide-check)
read -r enc_s enc_kb enc_cpu < <(best kvo-enc)
read -r encc_s encc_kb encc_cpu < <(best kvo-enc-check)

# calc EXPRESSION: floating-point arithmetic, two decimals.
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
printf '\n%s, %s, %s CPUs, best of %s rounds\n' "$TREE" "$(aide --version 2>&1 | head -1)" "$(nproc)" "$ROUNDS"
line() { printf '%-20s %8s %8s %12s %10s %12s\n' "$@"; }
line "" "wall s" "CPU s" "peak RSS MB" entities "database MB"
line "kvo-agent baseline" "$kvo_s" "$kvo_cpu" "$(calc "$kvo_kb / 1024")" "$kvo_entities" "$(calc "$kvo_bytes / 1048576")"
line "aide --init" "$aide_s" "$aide_cpu" "$(calc "$aide_kb / 1024")" "$aide_entities" "$(calc "$aide_bytes / 1048576")"
line "floor" "$floor_s" "$floor_cpu" "$(calc "$floor_kb / 1024")" "$floor_entities" "-"
line "kvo-agent check" "$kvoc_s" "$kvoc_cpu" "$(calc "$kvoc_kb / 1024")" "-" "-"
line "aide --check" "$aidec_s" "$aidec_cpu" "$(calc "$aidec_kb / 1024")" "-" "-"
line "baseline encrypted" "$enc_s" "$enc_cpu" "$(calc "$enc_kb / 1024")" "-" "$(calc "$(stat -c %s "$TMP/kvo-enc-work/si.db") / 1048576")"
line "check encrypted" "$encc_s" "$encc_cpu" "$(calc "$encc_kb / 1024")" "-" "-"
printf '\nkvo-agent speed relative to AIDE: %sx by wall time, %sx by CPU time (1 = as fast)\n' \
    "$(calc "$aide_s / $kvo_s")" "$(calc "$aide_cpu / $kvo_cpu")"
printf 'encrypted si.db: baseline %s%%, check %s%% wall time over plain\n' \
    "$(calc "($enc_s / $kvo_s - 1) * 100")" "$(calc "($encc_s / $kvoc_s - 1) * 100")"
printf 'wall time over the floor: kvo-agent %sx, AIDE %sx\n' "$(calc "$kvo_s / $floor_s")" "$(calc "$aide_s / $floor_s")"
printf 'peak RSS relative to AIDE: %sx\n' "$(calc "$kvo_kb / $aide_kb")"
printf '\ncheck of the unchanged tree, kvo-agent speed relative to AIDE: %sx by wall time, %sx by CPU time\n' \
    "$(calc "$aidec_s / $kvoc_s")" "$(calc "$aidec_cpu / $kvoc_cpu")"
printf 'check peak RSS relative to AIDE: %sx\n' "$(calc "$kvoc_kb / $aidec_kb")"
