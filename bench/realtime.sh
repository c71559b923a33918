#!/bin/bash
# What a real-time scan costs beside an incremental check. Builds a tree of N
# small files, records its baseline, times an unchanged check (every file
# examined), then edits K files, records each edit in RealtimeChanges and
# ChangeDetails as the real-time engine moves them, and times the real-time
# scan of `kvo-agent run` that processes them (only the changed keys).
# Times are the scans' own (Scans.endTime - startTime), without the agent's
# start and stop. Usage: realtime.sh [N [K [KVO_AGENT]]]  (default 100000 1000)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
N=${1:-100000}
K=${2:-1000}
AGENT=${3:-$here/../bin/kvo-agent}
[ -x "$AGENT" ] || { echo "realtime: no agent at $AGENT (give its path)" >&2; exit 64; }
[[ "$N" =~ ^[0-9]+$ && "$K" =~ ^[0-9]+$ && "$K" -ge 1 && "$N" -ge "$K" ]] ||
    { echo "realtime: N and K must be numbers, 1 <= K <= N" >&2; exit 64; }
command -v sqlite3 >/dev/null || { echo "realtime: sqlite3 is missing" >&2; exit 69; }

TMP=$(mktemp -d /tmp/kvo-realtime-XXXXXX)
trap 'rm -rf "$TMP"' EXIT
TREE=$TMP/tree
A=("$AGENT" --workdir "$TMP/work" --config "$TMP/kvo.xml")
cat >"$TMP/kvo.xml" <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="true" contentShortHandMapping="sha256"/>
  <IntegrityRules>
    <IntegrityRule id="1" name="Real-time tree" identifier="1001" severity="1" allowOnChange="true">
      <FileSet base="$TREE"><Include key="**"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>
    </IntegrityRule>
  </IntegrityRules>
</SecurityConfiguration>
XML

python3 - "$TREE" "$N" <<'PY'
import os, sys
tree, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(tree, "d%04d" % (i // 1000))
    if i % 1000 == 0: os.makedirs(d)
    with open(os.path.join(d, "f%07d" % i), "w") as f: f.write("file %d of the tree\n" % i)
PY
db() { sqlite3 "$TMP/work/si.db" "$@"; }
# Milliseconds of the last closed scan of a kind.
took() { db "SELECT endTime-startTime FROM Scans WHERE incrementalScan=$1 AND endTime>0 ORDER BY scanId DESC LIMIT 1;"; }

"${A[@]}" baseline >/dev/null
"${A[@]}" check >/dev/null
check_ms=$(took 1)

# K edits spread over the tree, each one change of its own key, as the engine records them.
python3 - "$TREE" "$N" "$K" >"$TMP/changes.sql" <<'PY'
import sys, time
tree, n, k = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
now = int(time.time() * 1000)
print("BEGIN;")
for j, i in enumerate(range(0, n, n // k)[:k]):
    path = "%s/d%04d/f%07d" % (tree, i // 1000, i)
    with open(path, "a") as f: f.write("edited\n")
    print("INSERT INTO RealtimeChanges(entityType,keyCanonical,entitySetIds) VALUES('File','%s','(1)');" % path)
    print("INSERT INTO ChangeDetails VALUES(last_insert_rowid(),2,%d,%d,NULL,'bench','python3/1');" % (now + j, now + j))
print("COMMIT;")
PY
db <"$TMP/changes.sql"
"${A[@]}" --set zel.im.bOnChangeDataAvailable=true run >/dev/null 2>&1 &
agent=$!
for _ in $(seq 6000); do [ -n "$(took 2)" ] && break; sleep 0.1; done
kill -TERM $agent && wait $agent
rt_ms=$(took 2)
# The scanner's own share: its subscan, from its first step to its last.
sub_ms=$(db "SELECT s.endTime-s.startTime FROM Subscans s JOIN Scans c USING(scanId) WHERE c.incrementalScan=2;")
events=$(db "SELECT COUNT(*) FROM IntegrityEvents WHERE change=2 AND user='bench';")
left=$(db "SELECT COUNT(*) FROM RealtimeChanges;")
echo "incremental check of $N files: $check_ms ms, $(echo "scale=1; $check_ms*1000/$N" | bc) us per file"
echo "real-time scan of $K changed files: $rt_ms ms, $(echo "scale=1; $rt_ms*1000/$K" | bc) us per changed file" \
     "(its scanner $sub_ms ms; $events update events, $left change rows left)"
