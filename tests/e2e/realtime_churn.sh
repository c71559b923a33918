# Random churn in a watched tree while the agent runs, by fanotify and
# inotify alike: files made, written, moved and removed, directories made,
# moved about, moved out, moved in whole and removed, hundreds of times within
# a few seconds. Once the real-time scans are done, a check finds nothing
# they missed or made up, and every key has one current version.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
B=$WORK/p/b
realtime_config "$B" | sed "s|</FileSet>|&<DirectorySet base=\"$B\"><Include key=\"**\"/></DirectorySet>|" >"$WORK/config.xml"

cat >"$WORK/churn.py" <<'PY'
import os, random, shutil, sys
root, seed, outside, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
random.seed(seed)
os.makedirs(outside, exist_ok=True)
def walk():
    dirs, files = [root], []
    for at, subdirs, names in os.walk(root):
        dirs += [os.path.join(at, d) for d in subdirs]
        files += [os.path.join(at, f) for f in names]
    return dirs, files
for n in range(count):
    dirs, files = walk()
    op = random.choice("fffewrdmMxoi")
    try:
        if op == "f": open(os.path.join(random.choice(dirs), "f%d" % n), "w").write("x" * random.randint(0, 40))
        elif op == "e" and files: open(random.choice(files), "a").write("y")
        elif op == "w" and files: os.remove(random.choice(files))
        elif op == "r" and files: os.rename(random.choice(files), os.path.join(random.choice(dirs), "m%d" % n))
        elif op == "d": os.mkdir(os.path.join(random.choice(dirs), "d%d" % n))
        elif op in "mMxo" and len(dirs) > 1:
            moved = random.choice(dirs[1:])
            if op == "x": shutil.rmtree(moved)
            elif op == "o": os.rename(moved, os.path.join(outside, "o%d" % n))
            else:
                to = random.choice(dirs)
                if not (to + "/").startswith(moved + "/"): os.rename(moved, os.path.join(to, "md%d" % n))
        elif op == "i":
            made = os.path.join(outside, "i%d" % n)
            os.makedirs(os.path.join(made, "s"))
            open(os.path.join(made, "s", "g"), "w").write("g")
            open(os.path.join(made, "h"), "w").write("h")
            os.rename(made, os.path.join(random.choice(dirs), "in%d" % n))
    except OSError:
        pass  # a path another step took away
PY

for engine in fanotify inotify; do
    for seed in 3 4; do
        mkdir -p "$B" && python3 "$WORK/churn.py" "$B" $((seed + 100)) "$WORK/aside" 40
        W=$WORK/$engine-$seed
        A=("$AGENT" --workdir "$W" --config "$WORK/config.xml")
        start_realtime $engine
        python3 "$WORK/churn.py" "$B" $seed "$WORK/aside" 300
        until_true 90 quiet || echo "FAIL: the real-time scans did not end ($engine, seed $seed)"
        kill -TERM $agent && wait $agent
        expect_status 0 "$engine, seed $seed: a check finds nothing the real-time scans missed or made up" \
            -- "${A[@]}" check
        doubled=$(sqlite3 "$W/si.db" "SELECT keyCanonical FROM Entitys WHERE supercededBy IS NULL AND key IS NOT NULL
            GROUP BY entityType, entitySetId, keyCanonical HAVING COUNT(*) > 1;")
        check "$engine, seed $seed: one current version per key [$doubled]" [ -z "$doubled" ]
        rm -rf "$WORK/p" "$WORK/aside"
    done
done
finish
