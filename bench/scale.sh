#!/bin/bash
# How the agent's cost grows with the baseline and with the work of a check.
# Builds a tree of N small files (1,000 per directory, each with content of its
# own), then times, each on the database the step before left:
#   baseline            the whole tree recorded
#   unchanged check     nothing to report
#   N/20 new files      reported as created
#   N/20 renames        reported as renamed (found by their content)
#   N/20 content edits  reported as updated
# Prints per run: wall seconds, peak RSS, database size, microseconds per file
# of the tree, and the events the check recorded by kind, so that a wrong
# count shows beside the time.
# Usage: scale.sh [N [KVO_AGENT]]   (default: 100000, the agent beside this build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
N=${1:-100000}
AGENT=${2:-$here/../bin/kvo-agent}
[ -x "$AGENT" ] || { echo "scale: no agent at $AGENT (give its path)" >&2; exit 64; }
[[ "$N" =~ ^[0-9]+$ ]] && [ "$N" -ge 1000 ] || { echo "scale: N must be a number of at least 1000" >&2; exit 64; }
for tool in /usr/bin/time sqlite3; do
    command -v "$tool" >/dev/null || { echo "scale: $tool is missing" >&2; exit 69; }
done

TMP=$(mktemp -d /tmp/kvo-scale-XXXXXX)
trap 'rm -rf "$TMP"' EXIT
TREE=$TMP/tree
W=$TMP/work
STEP=$((N / 20))

cat >"$TMP/kvo.xml" <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="false" contentShortHandMapping="sha256"/>
  <IntegrityRules>
    <IntegrityRule id="1" name="Scale tree" identifier="1001" severity="1" allowOnChange="false">
      <FileSet base="$TREE"><Include key="**"/><Attributes><STANDARD/><inodeNumber/></Attributes></FileSet>
    </IntegrityRule>
  </IntegrityRules>
</SecurityConfiguration>
XML

echo "scale: building $N files under $TREE" >&2
python3 - "$TREE" "$N" <<'PY'
import os, sys
tree, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(tree, "d%04d" % (i // 1000))
    if i % 1000 == 0: os.makedirs(d)
    with open(os.path.join(d, "f%07d" % i), "w") as f: f.write("file %d of the scale tree\n" % i)
PY

# Every STEP-th file, spread over the whole tree.
picked() { python3 -c 'import sys; n,s=int(sys.argv[1]),int(sys.argv[2]); [print("d%04d/f%07d" % (i//1000, i)) for i in range(0, n, n//s)][:s]' "$N" "$STEP"; }

last_event=0
run() {
    local name=$1; shift
    local status=0
    /usr/bin/time -f "%e %M" -o "$TMP/time" "$AGENT" --workdir "$W" --config "$TMP/kvo.xml" "$@" \
        >"$TMP/out" 2>"$TMP/err" || status=$?
    # check: bits of what changed; anything from 64 on is a failure.
    if [ "$status" -ge 64 ]; then
        echo "scale: $name failed with status $status:" >&2
        cat "$TMP/err" >&2
        exit 70
    fi
    # A failing command adds a line of its own before the figures.
    read -r wall rss < <(tail -n 1 "$TMP/time")
    local events
    events=$(sqlite3 "$W/si.db" "SELECT COALESCE(GROUP_CONCAT(k, ' '), '-') FROM (SELECT CASE [change] WHEN 1 THEN
        'created' WHEN 2 THEN 'updated' WHEN 3 THEN 'deleted' WHEN 4 THEN 'renamed' ELSE 'change'||[change] END
        ||'='||COUNT(*) AS k FROM [IntegrityEvents] WHERE [integrityEventId]>$last_event GROUP BY [change]);")
    last_event=$(sqlite3 "$W/si.db" "SELECT COALESCE(MAX([integrityEventId]), 0) FROM [IntegrityEvents];")
    local size
    size=$(stat -c %s "$W/si.db")
    printf "%-18s %8.2f s %7.1f MB RSS %7.1f MB db %8.1f us/file  %s\n" "$name" "$wall" "$(echo "$rss/1024" | bc -l)" \
        "$(echo "$size/1048576" | bc -l)" "$(echo "$wall*1000000/$N" | bc -l)" "$events"
}

echo "scale: $N files, steps of $STEP ($(nproc) cores)"
run "baseline" baseline
run "unchanged check" check
for i in $(seq 1 "$STEP"); do echo "new file $i of the scale tree" >"$TREE/d0000/new$i"; done
run "$STEP new files" check
picked | while read -r f; do mv "$TREE/$f" "$TREE/$f.moved"; done
run "$STEP renames" check
picked | while read -r f; do echo "edited" >>"$TREE/$f.moved"; done
run "$STEP edits" check
