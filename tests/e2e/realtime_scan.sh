# Real-time change processing: changes recorded in RealtimeChanges and
# ChangeDetails (written here as the real-time engine writes them) are
# examined by a real-time scan of `kvo-agent run`, reported with their time,
# user and process, and their rows deleted; a search-base change brings an
# incremental scan.
source "$(dirname "$0")/common.bash" "$@"
AGENT=$(cd "$(dirname "$AGENT")" && pwd)/$(basename "$AGENT")
T=$WORK/t
mkdir -p "$T/d/sub" "$T/quiet"
for f in edit same gone moved; do echo "$f" >"$T/$f.conf"; done
echo x >"$T/d/x.conf" && echo y >"$T/d/sub/y.conf"
for p in again gone new; do cp "$(command -v sleep)" "$WORK/kvo-$p"; done
"$WORK/kvo-again" 600 & again=$!
"$WORK/kvo-gone" 600 & gone=$!
trap 'kill $again $gone $new 2>/dev/null; rm -rf "$WORK"' EXIT
cat >"$WORK/config.xml" <<EOF
<SecurityConfiguration><AgentConfiguration/><IntegrityRules>
<IntegrityRule id="1" name="Tree" identifier="1001" severity="2" allowOnChange="true">
  <FileSet base="$T"><Include key="**/*.conf"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>
  <DirectorySet base="$T"><Include key="**"/><Attributes><STANDARD/></Attributes></DirectorySet>
  <FileSet base="$T/quiet"><Operation types="update delete"/><Include key="*.txt"/><Attributes><STANDARD/></Attributes></FileSet>
  <ProcessSet><Include key="$WORK/kvo-*"/><Attributes><path/><user/></Attributes></ProcessSet>
</IntegrityRule></IntegrityRules></SecurityConfiguration>
EOF
A=("$AGENT" --workdir "$WORK/w" --config "$WORK/config.xml")
expect_status 0 "the baseline" -- "${A[@]}" baseline
db() { sqlite3 "$WORK/w/si.db" "$@"; }

echo edited >"$T/edit.conf" && rm "$T/gone.conf" && mv "$T/moved.conf" "$T/moved.txt"
mv "$T/d" "$T/e" && echo new >"$T/quiet/new.txt"
kill $again $gone && wait $again $gone 2>/dev/null
"$WORK/kvo-again" 600 & again=$!  # the same object again: one of its processes ended
"$WORK/kvo-new" 600 & new=$!
# change TYPE KEY SETS "CHANGE,TIME,OLDKEY,USER,PROCESS"...: one key's rows, as the engine moves them.
# TIME counts from T0, after the baseline (a change is newer than what it changes) and apart from
# the times of the scans' own events.
T0=$(($(date +%s%3N) + 1000000))
change() {
    local id
    id=$(db "INSERT INTO RealtimeChanges(entityType,keyCanonical,entitySetIds) VALUES('$1','$2','$3'); SELECT last_insert_rowid();")
    shift 3
    for d in "$@"; do
        IFS=, read -r c t o u p <<<"$d"
        db "INSERT INTO ChangeDetails VALUES($id,$c,$T0+$t,$T0+$t+50,NULLIF('$o',''),NULLIF('$u',''),NULLIF('$p',''));"
    done
}
change File "$T/edit.conf" "(1)" "2,1000,,ann,vim/7" "2,2000,,bob,sed/8" "2,3000,,ann,vim/7"
change File "$T/same.conf" "(1)" "2,4000,,cy,touch/9"
change File "$T/gone.conf" "(1)" "2,5000,,dan,tee/10" "3,6000,,eve,rm/11"
change File "$T/moved.conf" "(1)" "3,7000,,fay,mv/12"  # renamed to a name no set takes
change Directory "$T/e" "(1)" "4,8000,$T/d,gus,mv/13"
change File "$T/quiet/new.txt" "(2)" "1,9000,,hal,cp/14"
change Process "$WORK/kvo-new" "(1)" "1,10000,,ivy,bash/15"
change Process "$WORK/kvo-again" "(1)" "3,11000,,,"
change Process "$WORK/kvo-gone" "(1)" "3,11000,,,"
change Directory "$T/quiet" "(1)" "-1000000,12000,,,"

"${A[@]}" --set zel.im.bOnChangeDataAvailable=true run >"$WORK/run.out" 2>&1 &
agent=$!
# The real-time scan, then the incremental scan of the set whose base changed.
for _ in $(seq 600); do [ "$(db "SELECT COUNT(*) FROM Scans WHERE incrementalScan IN (1,2) AND endTime>0;")" = 2 ] && break; sleep 0.1; done
kill -TERM $agent && wait $agent
check "the agent stopped cleanly" [ $? -eq 0 ]

got=$(db "SELECT change,entityType,key,recorded-$T0,replace(user,char(10),'+'),replace(process,char(10),'+') FROM IntegrityEvents
          WHERE recorded>=$T0 ORDER BY recorded,key;")
want="2|File|$T/edit.conf|3000|ann+bob|vim/7+sed/8
3|File|$T/gone.conf|6000|eve|rm/11
3|File|$T/moved.conf|7000|fay|mv/12
4|Directory|$T/d -> $T/e|8000|gus|mv/13
4|Directory|$T/d/sub -> $T/e/sub|8000|gus|mv/13
4|File|$T/d/sub/y.conf -> $T/e/sub/y.conf|8000|gus|mv/13
4|File|$T/d/x.conf -> $T/e/x.conf|8000|gus|mv/13
1|Process|$WORK/kvo-new|10000|ivy|bash/15
3|Process|$WORK/kvo-gone|11000||"
check "real-time events [$got], expected [$want]" [ "$got" = "$want" ]
check "the change rows are deleted" [ "$(db "SELECT COUNT(*) FROM RealtimeChanges; SELECT COUNT(*) FROM ChangeDetails;")" = "0
0" ]
check "an unchanged file keeps its one version" [ "$(db "SELECT COUNT(*) FROM Entitys WHERE key='$T/same.conf';")" = 1 ]
check "a create its set does not report is recorded" \
    [ "$(db "SELECT COUNT(*) FROM Entitys WHERE key='$T/quiet/new.txt' AND supercededBy IS NULL;")" = 1 ]
check "moved files keep their digests" [ "$(db "SELECT a.value FROM Attributes a JOIN Entitys e USING(entityId)
    WHERE e.key='$T/e/x.conf' AND e.supercededBy IS NULL AND a.name='sha256';")" = "$(sha256sum <"$T/e/x.conf" | cut -d' ' -f1)" ]
check "the changed base brought an incremental scan" \
    [ "$(db "SELECT COUNT(*) FROM IntegrityEvents WHERE recorded<$T0 AND key='$T/quiet';")" = 1 ]
"${A[@]}" events >"$WORK/events"
expect_text "$WORK/events" "^    by: ann, bob (vim/7, sed/8)$" "the listing names both users and processes"

# Both halves together: notifications given to the on-change object as the
# host's engine gives them, one file alone and 200 files from four threads at
# once, are moved once quiet while the control loop's real-time scans report
# them: each change once, with its user and process.
mkdir -p "$T/many"
for i in $(seq 200); do echo "$i" >"$T/many/f$i.conf"; done
expect_status 0 "the baseline of the new files" -- "${A[@]}" baseline
cat >"$WORK/sender.lua" <<'LUA'
require "im"
local dir, from, to = ...
for i = tonumber(from), tonumber(to) do
  SLB.im.OnChange.Change(dom, { operationType = "update", realpath = dir .. "/f" .. i .. ".conf",
                                procUser = "t" .. from, processName = "w", pid = "1" })
end
LUA
cat >"$WORK/road.lua" <<'LUA'
require "im"
local O = SLB.im.OnChange
local file, many, scripts = ...
local function count(sql)
  local pipe = io.popen("sqlite3 '" .. dom:Get("zel.im.dbPath") .. "' \"" .. sql .. "\"")
  local n = tonumber(pipe:read("*a")) or 0
  pipe:close()
  return n
end
local reported = "SELECT COUNT(*) FROM IntegrityEvents WHERE key='" .. file .. "' OR key LIKE '" .. many .. "/%'"
local before = count(reported)
dom:Set("app.mode.unittest", true)  -- the loop looks for work every 100 ms
local loop = dom:StartThread(scripts .. "/run.lua", scripts)
local oc = O(dom, 200, 2000)
O.Register(oc, dom)
oc:Open()
O.Change(dom, { operationType = "update", realpath = file, procUser = "cy", processName = "ed", pid = "9" })
local senders = {}
for i = 0, 3 do senders[#senders + 1] = dom:StartThread(many .. "/../../sender.lua", many, i * 50 + 1, i * 50 + 50) end
for _ = 1, 600 do
  oc:Update()
  if count(reported) >= before + 201 and count("SELECT COUNT(*) FROM RealtimeChanges") == 0 then break end
  dom:ShouldExit(100)
end
for _, sender in ipairs(senders) do sender:Join() end
oc:Close()
loop:RequestExit()
loop:Join()
LUA
last=$(db "SELECT MAX(integrityEventId) FROM IntegrityEvents;")
echo "edited on the road" >"$T/edit.conf"
for i in $(seq 200); do echo "changed $i" >"$T/many/f$i.conf"; done
expect_status 0 "notifications through the on-change object" -- "${A[@]}" exec "$WORK/road.lua" "$T/edit.conf" \
    "$T/many" "$(cd "$SRC" && pwd)/agent/lua"
"${A[@]}" events --after "$last" --limit 1000 >"$WORK/events"
expect_text "$WORK/events" "update \[1001 - Tree\] File $T/edit.conf$" "the change noticed is reported"
expect_text "$WORK/events" "^    by: cy (ed/9)$" "with who made it"
check "each of 200 changes from four threads is reported once, by its sender" [ "$(db "SELECT COUNT(*) || ' ' ||
    COUNT(DISTINCT key) || ' ' || SUM(user = 't' || ((CAST(substr(key, length('$T/many/f') + 1) AS INTEGER) - 1) / 50 * 50 + 1))
    FROM IntegrityEvents WHERE integrityEventId > $last AND change = 2 AND key LIKE '$T/many/%';")" = "200 200 200" ]
finish
