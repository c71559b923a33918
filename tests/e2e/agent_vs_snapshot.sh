# kvo-agent check against an independent reference: stat and sha256 of every
# regular file of a tree before and after one batch of changes (creates,
# content edits with and without a new size or time, permission, owner, group
# and time changes, deletes, renames, a swap of two names). The paths that
# check reports as created, deleted and updated must be the reference's added,
# removed and changed paths; a rename counts as its old name removed and its
# new name added.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")

T=$WORK/tree
for d in a b c d; do
    mkdir -p "$T/$d"
    for i in 00 01 02 03 04 05 06 07 08 09; do
        # Distinct contents of many sizes, so that a rename has a unique digest.
        yes "$d/$i" | head -c $((10#$i * 997 + 13)) >"$T/$d/f$i"
    done
done
# Large files are read in several windows.
head -c 300000 /dev/urandom >"$T/a/big"
head -c 200000 /dev/urandom >"$T/b/big"
: >"$T/c/empty"

config_xml "" 'id="9" name="Tree files" identifier="1009" severity="2"' "<FileSet base=\"$T\"><Include key=\"**\"/>
    <Attributes><permissions/><owner/><group/><size/><sha256/><lastModified/></Attributes></FileSet>" >"$WORK/rule.xml"

# snapshot FILE: mode, owner, group, size, modification time and digest of
# every regular file under the tree, as JSON.
snapshot() {
    python3 - "$T" "$1" <<'PY'
import hashlib, json, os, stat, sys
root, out = sys.argv[1], sys.argv[2]
files = {}
for d, _, names in os.walk(root):
    for n in names:
        p = os.path.join(d, n)
        s = os.lstat(p)
        if stat.S_ISREG(s.st_mode):
            digest = hashlib.sha256(open(p, "rb").read()).hexdigest()
            files[p] = [stat.S_IMODE(s.st_mode), s.st_uid, s.st_gid, s.st_size, s.st_mtime_ns, digest]
json.dump(files, open(out, "w"))
PY
}

# keep_time FILE COMMAND...: COMMAND changes FILE's content, its time stays.
keep_time() {
    local f=$1
    shift
    touch -r "$f" "$WORK/stamp"
    "$@"
    touch -r "$WORK/stamp" "$f"
}
# overwrite FILE: the same number of bytes in the middle, other bytes.
overwrite() { printf 'XXXXXXXX' | dd of="$1" bs=1 seek=$(($(stat -c %s "$1") / 2)) conv=notrunc status=none; }

expect_status 0 "the baseline" -- "$AGENT" --workdir "$WORK/work" --config "$WORK/rule.xml" baseline
snapshot "$WORK/before.json"

# Each kind of change the reference sees, all in one scan.
echo "appended" >>"$T/a/f01"
keep_time "$T/a/f02" overwrite "$T/a/f02"
keep_time "$T/a/big" overwrite "$T/a/big"
overwrite "$T/b/big"
chmod 600 "$T/a/f03"
chmod 4755 "$T/a/f04"
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$T/b/f00"
    chgrp nogroup "$T/b/f01"
    chown nobody:nogroup "$T/b/f02"
fi
touch -d "2001-02-03 04:05:06" "$T/b/f03"
rm "$T/c/f00" "$T/c/empty"
rm -r "$T/d"
echo "new in an old directory" >"$T/c/new"
: >"$T/c/new-empty"
mkdir -p "$T/e/deeper"
echo "new in a new directory" >"$T/e/deeper/new"
ln "$T/c/f05" "$T/e/hard-link"
mv "$T/c/f08" "$T/e/renamed"
mv "$T/c/f09" "$T/c/f09-renamed"
chmod 640 "$T/c/f09-renamed"
mv "$T/b/f05" "$T/swap"
mv "$T/b/f06" "$T/b/f05"
mv "$T/swap" "$T/b/f06"
rm "$T/b/f07"
echo "the name came back with other content" >"$T/b/f07"

snapshot "$WORK/after.json"
"$AGENT" --workdir "$WORK/work" --config "$WORK/rule.xml" check --json >"$WORK/events.jsonl" 2>"$WORK/err"
status=$?
check "check exits with bits of what changed, not 16 nor 0 (status $status)" [ "$status" -ge 1 -a "$status" -le 15 ]

check "check reports the reference's added, removed and changed paths" python3 - \
    "$WORK/before.json" "$WORK/after.json" "$WORK/events.jsonl" <<'PY'
import json, sys
before, after = (json.load(open(f)) for f in sys.argv[1:3])
want = {
    "added": set(after) - set(before),
    "removed": set(before) - set(after),
    "changed": {p for p in set(before) & set(after) if before[p] != after[p]},
}
got = {k: set() for k in want}
for line in open(sys.argv[3]):
    e = json.loads(line)
    if e["change"] == "rename":
        old, new = e["key"].split(" -> ")
        got["removed"].add(old)
        got["added"].add(new)
    else:
        got[{"create": "added", "delete": "removed", "update": "changed"}[e["change"]]].add(e["key"])
ok = got == want
for k in want:
    if got[k] != want[k]:
        print(f"    {k}: only the reference: {sorted(want[k] - got[k])}, only check: {sorted(got[k] - want[k])}")
sys.exit(0 if ok else 1)
PY

finish
