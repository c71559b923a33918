#!/bin/bash
# What a real-time scan costs beside an incremental check. Builds a tree of N
# small files, records its baseline, times an unchanged check (every file
# examined) and a check after K edits (what a changed entity costs when a walk
# finds it), then edits the K files again, records each edit in RealtimeChanges and
# ChangeDetails as the real-time engine moves them, and times the real-time
# scan of `kvo-agent run` that processes them (only the changed keys).
# Times are the scans' own (Scans.endTime - startTime), without the agent's
# start and stop.
#
# Then the real-time engine of `kvo-agent run`, for fanotify and inotify, with
# a settle time of 500 ms: latency from a change to its JSON event line over
# 1,000 single changes (write, create, delete, rename, chmod, 20 a second),
# a burst of 10,000 files created in one directory (creates reported, lost),
# the agent's CPU share while nothing changes (60 s) and during 1,000 changes
# a second (10 s).
# Usage: realtime.sh [N [K [KVO_AGENT]]]  (default 100000 1000)
#        realtime.sh engines [KVO_AGENT]  (the engine part only)
#        realtime.sh scans [N [K [KVO_AGENT]]]  (the scan part only)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
ENGINES_ONLY=false
SCANS_ONLY=false
if [ "${1:-}" = engines ]; then ENGINES_ONLY=true; set -- 100000 1000 "${2:-}"; fi
if [ "${1:-}" = scans ]; then SCANS_ONLY=true; shift; fi
N=${1:-100000}
K=${2:-1000}
AGENT=${3:-$here/../bin/kvo-agent}
[ -n "$AGENT" ] || AGENT=$here/../bin/kvo-agent
[ -x "$AGENT" ] || { echo "realtime: no agent at $AGENT (give its path)" >&2; exit 64; }
[[ "$N" =~ ^[0-9]+$ && "$K" =~ ^[0-9]+$ && "$K" -ge 1 && "$N" -ge "$K" ]] ||
    { echo "realtime: N and K must be numbers, 1 <= K <= N" >&2; exit 64; }
command -v sqlite3 >/dev/null || { echo "realtime: sqlite3 is missing" >&2; exit 69; }

TMP=$(mktemp -d /tmp/kvo-realtime-XXXXXX)
trap 'rm -rf "$TMP"' EXIT
TREE=$TMP/tree
A=("$AGENT" --workdir "$TMP/work" --config "$TMP/kvo.xml")
scan_part() {
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

# What a changed entity costs in a check: the same K files edited once before,
# found by a check that walks every file.
python3 - "$TREE" "$N" "$K" <<'PY'
import sys
tree, n, k = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(0, n, n // k)[:k]:
    with open("%s/d%04d/f%07d" % (tree, i // 1000, i), "a") as f: f.write("edited before\n")
PY
"${A[@]}" check >/dev/null || true
edits_ms=$(took 1)

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
"${A[@]}" --set zel.im.bOnChangeDataAvailable=true --set kvo.realtime=off run >/dev/null 2>&1 &
agent=$!
for _ in $(seq 6000); do [ -n "$(took 2)" ] && break; sleep 0.1; done
kill -TERM $agent && wait $agent
rt_ms=$(took 2)
# The scanner's own share: its subscan, from its first step to its last.
sub_ms=$(db "SELECT s.endTime-s.startTime FROM Subscans s JOIN Scans c USING(scanId) WHERE c.incrementalScan=2;")
events=$(db "SELECT COUNT(*) FROM IntegrityEvents WHERE change=2 AND user='bench';")
left=$(db "SELECT COUNT(*) FROM RealtimeChanges;")
echo "incremental check of $N files: $check_ms ms, $(echo "scale=1; $check_ms*1000/$N" | bc) us per file"
echo "check of $N files with $K of them edited: $edits_ms ms," \
     "$(echo "scale=1; ($edits_ms-$check_ms)*1000/$K + $check_ms*1000/$N" | bc) us per edited file"
echo "real-time scan of $K changed files: $rt_ms ms, $(echo "scale=1; $rt_ms*1000/$K" | bc) us per changed file" \
     "(its scanner $sub_ms ms; $events update events, $left change rows left)"
}

# One engine: a table row of its figures.
engine_part() {
    python3 - "$AGENT" "$TMP/$1" "$1" <<'PY'
import json, os, subprocess, sys, threading, time
agent, tmp, engine = sys.argv[1:4]
tree, work = tmp + "/tree", tmp + "/work"
cfg = tmp + "/kvo.xml"
for d in ("lat", "burst", "load"): os.makedirs(os.path.join(tree, d))
def write(path, text="x\n", mode="w"):
    with open(path, mode) as f: f.write(text)
for i in range(200):
    for kind in "wdrm": write("%s/lat/%s%d" % (tree, kind, i))
for i in range(100): write("%s/load/%d" % (tree, i))
write(cfg, """<SecurityConfiguration>
<AgentConfiguration systemIntegrityAllowOnChange="true" systemIntegrityEventMode="2"
  systemIntegrityOnchangeBackoffMinMS="500" systemIntegrityOnchangeBackoffMaxMS="2000"/>
<IntegrityRules><IntegrityRule id="1" name="Bench" identifier="1001" severity="1" allowOnChange="true">
<FileSet base="%s"><Include key="**"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>
</IntegrityRule></IntegrityRules></SecurityConfiguration>""" % tree)
base = [agent, "--workdir", work, "--config", cfg]
subprocess.run(base + ["baseline"], check=True, stdout=subprocess.DEVNULL)
log = work + "/kvo-agent.log"
write(log, "")
agent_proc = subprocess.Popen(base + ["--set", "kvo.realtime=" + engine, "run"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
def wait_for(test, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test(): return True
        time.sleep(0.01)
    return False
if not wait_for(lambda: "real-time: watching 1 dir" in open(log).read(), 60): sys.exit("the engine did not start")
# Changes made while the start's check walks the tree are that scan's to report, not the engine's.
if not wait_for(lambda: "integrity scan completed" in open(log).read(), 600): sys.exit("the start check did not end")
seen, lock = {}, threading.Lock()
creates = []
def tail():
    path = work + "/events.jsonl"
    wait_for(lambda: os.path.exists(path), 3600)
    with open(path) as f:
        while agent_proc.poll() is None:
            line = f.readline()
            if not line.endswith("\n"):
                if line: f.seek(f.tell() - len(line))
                time.sleep(0.005)
                continue
            e = json.loads(line)
            key = e.get("isKey", e["key"])
            with lock:
                seen.setdefault((e["operationType"], key), time.monotonic())
                if e["operationType"] == "create" and "/burst/" in key: creates.append(key)
threading.Thread(target=tail, daemon=True).start()

changed = {}
ops = ["write", "create", "delete", "rename", "chmod"]
for n in range(1000):
    op, i = ops[n % 5], n // 5
    lat = tree + "/lat/"
    if op == "write": write(lat + "w%d" % i, "more\n", "a"); want = ("update", lat + "w%d" % i)
    elif op == "create": write(lat + "c%d" % i); want = ("create", lat + "c%d" % i)
    elif op == "delete": os.remove(lat + "d%d" % i); want = ("delete", lat + "d%d" % i)
    elif op == "rename": os.rename(lat + "r%d" % i, lat + "s%d" % i); want = ("rename", lat + "s%d" % i)
    else: os.chmod(lat + "m%d" % i, 0o600); want = ("update", lat + "m%d" % i)
    changed[want] = time.monotonic()
    time.sleep(0.05)
wait_for(lambda: all(k in seen for k in changed), 120)
with lock: lat_ms = sorted((seen[k] - t) * 1000 for k, t in changed.items() if k in seen)
missing = len(changed) - len(lat_ms)
pct = lambda p: lat_ms[min(len(lat_ms) - 1, int(p * len(lat_ms)))] if lat_ms else float("nan")

t = time.monotonic()
for i in range(10000): write("%s/burst/f%05d" % (tree, i))
burst_s = time.monotonic() - t
wait_for(lambda: len(set(creates)) >= 10000, 600)
time.sleep(5)  # doubles would come now
with lock: total, distinct = len(creates), len(set(creates))

def cpu():
    fields = open("/proc/%d/stat" % agent_proc.pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
time.sleep(10)  # what the burst left to do
c, t = cpu(), time.monotonic()
time.sleep(60)
idle = (cpu() - c) / (time.monotonic() - t) * 100
c, t, n = cpu(), time.monotonic(), 0
while time.monotonic() - t < 10:
    write("%s/load/%d" % (tree, n % 100), "x", "a"); n += 1
    time.sleep(max(0, t + n / 1000 - time.monotonic()))
loaded = (cpu() - c) / (time.monotonic() - t) * 100
rate = n / (time.monotonic() - t)
agent_proc.terminate(); agent_proc.wait()
print("| %-8s | %6.0f | %6.0f | %4d | %6d creates in %.1f s, %d lost, %d twice | %5.2f %% | %5.1f %% at %.0f/s |" %
      (engine, pct(0.5), pct(0.99), missing, total, burst_s, 10000 - distinct, total - distinct, idle, loaded, rate))
PY
}

$ENGINES_ONLY || scan_part
$SCANS_ONLY && exit 0
echo "real-time engine, settle 500 ms; latency from the change to its JSON event over 1,000 changes (ms)"
echo "| engine   |    p50 |    p99 | lost | burst of 10,000 files                        | idle CPU | CPU under load |"
for engine in fanotify inotify; do engine_part $engine; done
