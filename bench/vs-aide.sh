#!/bin/bash
# Baseline speed against AIDE's database initialisation, on the same tree, the
# same machine and a warm page cache:
#   kvo-agent baseline  STANDARD attributes plus inodeNumber, contents as sha256
#   aide --init         p+u+g+m+c+i+s+n+sha256 (the same data: one digest)
#   the floor           sha256sum of every file plus a stat walk with find
# Prints each one's wall time, peak RSS, entities and database size, and the ratios.
# Usage: vs-aide.sh [KVO_AGENT [TREE]]   (default: the agent beside this build, /usr/share)
# Installs AIDE from Debian when it is missing (through sudo unless root).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
AGENT=${1:-$here/../bin/kvo-agent}
TREE=${2:-/usr/share}
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

cat >"$TMP/aide.conf" <<CONF
database_in=file:$TMP/aide.db
database_out=file:$TMP/aide.db.new
gzip_dbout=no
report_url=stdout
Bench = p+u+g+m+c+i+s+n+sha256
$TREE Bench
CONF

# timed NAME COMMAND...: wall seconds and peak RSS (kB) into $TMP/NAME.time.
timed() {
    local name=$1
    shift
    /usr/bin/time -f "%e %M" -o "$TMP/$name.time" "$@" >"$TMP/$name.out" 2>"$TMP/$name.err" || {
        echo "vs-aide: $name failed:" >&2
        tail -5 "$TMP/$name.err" >&2
        exit 70
    }
}
floor() {
    find "$1" -type f -print0 | xargs -0 -r sha256sum >/dev/null
    find "$1" -printf '%i %m %u %g %s %T@ %C@ %n\n' >/dev/null
}
export -f floor

echo "warming the page cache over $TREE ..." >&2
find "$TREE" -type f -print0 | xargs -0 -r cat >/dev/null 2>&1 || true

echo "kvo-agent baseline ..." >&2
timed kvo "$AGENT" --workdir "$TMP/kvo-work" --config "$TMP/kvo.xml" baseline
echo "aide --init ..." >&2
# AIDE exits 0 when it wrote the database.
timed aide aide --config "$TMP/aide.conf" --init
echo "floor ..." >&2
timed floor bash -c 'floor "$0"' "$TREE"

kvo_entities=$(sqlite3 "$TMP/kvo-work/si.db" \
    "SELECT COUNT(*) FROM [Entitys] WHERE [supercededBy] IS NULL AND [key] IS NOT NULL;")
kvo_bytes=$(stat -c %s "$TMP/kvo-work/si.db")
aide_entities=$(grep -c '^/' "$TMP/aide.db.new" || true)
aide_bytes=$(stat -c %s "$TMP/aide.db.new")
floor_entities=$(find "$TREE" | wc -l)

read -r kvo_s kvo_kb <"$TMP/kvo.time"
read -r aide_s aide_kb <"$TMP/aide.time"
read -r floor_s floor_kb <"$TMP/floor.time"

# calc EXPRESSION: floating-point arithmetic, two decimals.
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
printf '\n%s, %s, %s CPUs\n' "$TREE" "$(aide --version 2>&1 | head -1)" "$(nproc)"
printf '%-20s %10s %12s %10s %12s\n' "" "wall s" "peak RSS MB" entities "database MB"
printf '%-20s %10s %12s %10s %12s\n' "kvo-agent baseline" "$kvo_s" "$(calc "$kvo_kb / 1024")" "$kvo_entities" \
    "$(calc "$kvo_bytes / 1048576")"
printf '%-20s %10s %12s %10s %12s\n' "aide --init" "$aide_s" "$(calc "$aide_kb / 1024")" "$aide_entities" \
    "$(calc "$aide_bytes / 1048576")"
printf '%-20s %10s %12s %10s %12s\n' "floor" "$floor_s" "$(calc "$floor_kb / 1024")" "$floor_entities" "-"
printf '\nkvo-agent speed relative to AIDE: %sx (AIDE wall / kvo wall; 1 = as fast)\n' "$(calc "$aide_s / $kvo_s")"
printf 'wall time over the floor: kvo-agent %sx, AIDE %sx\n' "$(calc "$kvo_s / $floor_s")" "$(calc "$aide_s / $floor_s")"
printf 'peak RSS relative to AIDE: %sx\n' "$(calc "$kvo_kb / $aide_kb")"
