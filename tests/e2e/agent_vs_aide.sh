# kvo-agent check against AIDE on the same tree, both limited to regular files
# and to the same attributes (permissions, owner, group, size, modification
# time, sha256). After one batch of changes, the paths check reports must be
# the paths aide --check reports. Where the two differ by design:
# - AIDE has no renames: a path kvo reports as renamed counts as its old path
#   removed and its new path added;
# - kvo's FileSet covers symbolic links, AIDE's f restriction does not: the
#   tree holds none;
# - AIDE keeps modification times in whole seconds, kvo in milliseconds: the
#   one change of time alone here moves it by years.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
command -v aide >/dev/null || { echo "FAIL: aide is not installed (scripts/install-deps installs it)"; exit 1; }

T=$WORK/tree
for d in a b c; do
    mkdir -p "$T/$d"
    for i in 0 1 2 3 4 5 6 7; do
        # Distinct contents above 16 bytes, so that a rename has a unique digest.
        yes "$d/$i" | head -c $((i * 523 + 40)) >"$T/$d/f$i"
    done
done
: >"$T/c/empty"

cat >"$WORK/rule.xml" <<XML
<SecurityConfiguration>
  <AgentConfiguration systemIntegrityAllowOnChange="false"/>
  <IntegrityRules>
    <IntegrityRule id="11" name="Tree files" identifier="1011" severity="2" allowOnChange="false">
      <FileSet base="$T"><Include key="**"/>
        <Attributes><permissions/><owner/><group/><size/><lastModified/><sha256/></Attributes></FileSet>
    </IntegrityRule>
  </IntegrityRules>
</SecurityConfiguration>
XML
# report_format and report_level apply to the report_url lines after them.
cat >"$WORK/aide.conf" <<CONF
database_in=file:$WORK/aide.db
database_out=file:$WORK/aide.db.new
gzip_dbout=no
report_format=json
report_level=list_entries
report_url=file:$WORK/aide.json
Rule = p+u+g+s+m+sha256
$T f Rule
CONF

expect_status 0 "kvo-agent baseline" -- "$AGENT" --workdir "$WORK/work" --config "$WORK/rule.xml" baseline
expect_status 0 "aide --init" -- aide --config "$WORK/aide.conf" --init
cp "$WORK/aide.db.new" "$WORK/aide.db"

# mutate PATH COMMAND...: runs COMMAND, PATH must be in both reports.
: >"$WORK/mutated"
mutate() { echo "$1" >>"$WORK/mutated"; shift; "$@"; }
overwrite() { printf 'XXXXXXXX' | dd of="$1" bs=1 seek=$(($(stat -c %s "$1") / 2)) conv=notrunc status=none; }
same_time_overwrite() { touch -r "$1" "$WORK/stamp"; overwrite "$1"; touch -r "$WORK/stamp" "$1"; }

mutate "$T/a/new" eval 'echo "a new file" >"$T/a/new"'
mutate "$T/n/e/w" eval 'mkdir -p "$T/n/e" && echo "a new file in a new directory" >"$T/n/e/w"'
mutate "$T/a/f1" eval 'echo appended >>"$T/a/f1"'
mutate "$T/a/f2" overwrite "$T/a/f2"
mutate "$T/a/f3" same_time_overwrite "$T/a/f3"
mutate "$T/a/f4" chmod 600 "$T/a/f4"
mutate "$T/a/f5" chmod 4755 "$T/a/f5"
mutate "$T/a/f6" touch -d "2001-02-03 04:05:06" "$T/a/f6"
if [ "$(id -u)" -eq 0 ]; then
    mutate "$T/b/f0" chown nobody "$T/b/f0"
    mutate "$T/b/f1" chgrp nogroup "$T/b/f1"
fi
mutate "$T/b/f2" rm "$T/b/f2"
mutate "$T/c/empty" rm "$T/c/empty"
mutate "$T/c/f0" rm -r "$T/c"  # the whole directory: each of its files
mutate "$T/b/f3" mv "$T/b/f3" "$T/a/renamed"
echo "$T/a/renamed" >>"$WORK/mutated"
mutate "$T/b/f4" eval 'rm "$T/b/f4" && echo "the name came back with other content" >"$T/b/f4"'

"$AGENT" --workdir "$WORK/work" --config "$WORK/rule.xml" check --json >"$WORK/events.jsonl" 2>"$WORK/err"
status=$?
check "check exits with bits of what changed (status $status)" [ "$status" -ge 1 -a "$status" -le 15 ]
aide --config "$WORK/aide.conf" --check >"$WORK/aide.out" 2>&1
status=$?
check "aide --check exits with bits of what changed (status $status)" [ "$status" -ge 1 -a "$status" -le 7 ]

check "check and aide --check report the same paths" python3 - \
    "$WORK/events.jsonl" "$WORK/aide.json" "$WORK/mutated" <<'PY'
import json, sys
events, report, mutated = sys.argv[1:4]
kvo = {"added": set(), "removed": set(), "changed": set()}
renames = 0
for line in open(events):
    e = json.loads(line)
    if e["change"] == "rename":
        renames += 1
        old, new = e["key"].split(" -> ")
        kvo["removed"].add(old)
        kvo["added"].add(new)
    else:
        kvo[{"create": "added", "delete": "removed", "update": "changed"}[e["change"]]].add(e["key"])
r = json.load(open(report))
aide = {k: set(r.get(k, {})) for k in kvo}
ok = True
for k in kvo:
    if kvo[k] != aide[k]:
        ok = False
        print(f"    {k}: only kvo: {sorted(kvo[k] - aide[k])}, only aide: {sorted(aide[k] - kvo[k])}")
kvo_all, aide_all = set().union(*kvo.values()), set().union(*aide.values())
missing = [p for p in open(mutated).read().split("\n") if p and not (p in kvo_all and p in aide_all)]
if missing:
    ok = False
    print(f"    changed paths missing from a report: {missing}")
if not kvo_all or not aide_all or not renames:
    ok = False
    print(f"    a report is empty or kvo saw no rename: kvo {len(kvo_all)}, aide {len(aide_all)}, renames {renames}")
sys.exit(0 if ok else 1)
PY

finish
