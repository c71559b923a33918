-- The real-time change object as the agent's engine drives it: notifications
-- in, coalesced details out in si.db's RealtimeChanges and ChangeDetails.
-- Rules are the example configuration's (/etc, "**/*.conf", on change).
local t = require "testlib"
require "im"
local O = SLB.im.OnChange
local dbPath = dom:Get("zel.im.dbPath")

-- Stores the configured rules in si.db.
dom:Set("app.mode.unittest", true)
dom:Set("zel.im.unittest.iterations", 1)
local scripts = dom:Get("lua.dir") .. "/../../agent/lua"
t.check(dom:StartThread(scripts .. "/run.lua", scripts):Join(), "rules stored")

local function rows(sql)
  local pipe = assert(io.popen("sqlite3 '" .. dbPath .. "' \"" .. sql .. "\""))
  local out = pipe:read("*a"):gsub("\n$", "")
  pipe:close()
  return out
end
local function details(key)
  return rows("SELECT group_concat(change || ':' || ifnull(user,'') || ':' || ifnull(process,''), ' ') FROM " ..
              "(SELECT * FROM RealtimeChangeDetails WHERE keyCanonical='" .. key .. "' ORDER BY rowid)")
end
local function metric(name) return select(3, SLB.im.ImThread.GetStats())[name] or 0 end

local oc = O(dom, 400, 60000)
local dropped = metric("realtimeEventDroppedDbNoInit")
t.equal(true, oc:Change({ operationType = "update", realpath = "/etc/a.conf" }), "Change before Open")
t.equal(dropped + 1, metric("realtimeEventDroppedDbNoInit"), "dropped without a database")
t.raises("Expected event", oc.Change, oc, "x")
t.raises("invalid option", oc.Change, oc, { operationType = "touch" })

-- Our work directory, as the object sees it, lies inside the watched /etc.
dom:Set("app.path.work", "/etc/kvo")
O.Register(oc, dom)
oc:Open()
t.equal(true, O.CheckOnChange(dom), "registered")
local dirs = oc:GetDirList()
t.equal("/etc/", table.concat(dirs, ","), "watch list: the on-change search bases")

local base = dom:ConditionQuery("zel.im.OnChangeDataAvailable") or 0
local function change(op, path, user, old)
  return O.Change(dom, { operationType = op, realpath = path, procUser = user, processName = "vi", pid = "7",
                         oldname = old })
end
for _ = 1, 10 do change("update", "/etc/a.conf", "ann") end
change("update", "/etc/b.conf", "ann")
change("delete", "/etc/b.conf", "ann")
for i = 1, 5 do change("update", "/etc/u.conf", i % 2 == 0 and "bob" or "ann") end
change("rename", "/etc/c.conf.bak", "ann", "/etc/c.conf")
change("rename", "/etc/d2.conf", "ann", "/etc/d.conf")
change("update", "/etc/kvo/own.conf")
change("update", "/etc/kvox/x.conf")
change("update", dbPath)
local notInRules = metric("realtimeEventDroppedNotInRules")
change("update", "/srv/x.txt")
change("update", "/srv/x.txt")
t.equal(notInRules + 2, metric("realtimeEventDroppedNotInRules"), "an uncovered path counts each time")
t.equal(2, SLB.im.ImThread.GetRTIMMissStats()["/srv"]["x.txt"], "and is remembered by name, the repeat a hit")
t.equal(nil, SLB.im.ImThread.GetRTIMMissStats()[dbPath:match("(.*)/")], "si.db is known, not missed")
t.equal("", details("/etc/a.conf"), "nothing moves before Update")

-- Each key moves once quiet on its own; the last one changed settles last.
t.check(t.eventually(function() oc:Update(); return details("/etc/kvox/x.conf") ~= "" end, 20000), "moved once quiet")
for _, case in ipairs({
  { "/etc/a.conf", "2:ann:vi/7", "ten updates, one detail" },
  { "/etc/b.conf", "2:ann:vi/7 3:ann:vi/7", "update then delete" },
  { "/etc/u.conf", "2:ann:vi/7 2:bob:vi/7", "updates by two users: one detail each" },
  { "/etc/c.conf", "3:ann:vi/7", "renamed out of the rules: a delete" },
  { "/etc/d2.conf", "4:ann:vi/7", "renamed within the rules" },
  { "/etc/kvo/own.conf", "", "below the work directory" },
  { "/etc/kvox/x.conf", "2::vi/7", "beside the work directory" },
  { dbPath, "", "the database itself" },
}) do t.equal(case[2], details(case[1]), case[3]) end
t.equal("/etc/d.conf", rows("SELECT keyCanonicalOld FROM RealtimeChangeDetails WHERE keyCanonical='/etc/d2.conf'"),
        "a rename keeps the old key")
t.check(dom:ConditionQuery("zel.im.OnChangeDataAvailable") > base, "the scan is told")
oc:Update()
t.equal("2:ann:vi/7", details("/etc/a.conf"), "a moved change is not moved again")

oc:Close()
t.equal(false, O.CheckOnChange(dom), "Close unregisters")
t.equal(false, O.Change(dom, { realpath = "/etc/a.conf" }), "no engine: false")
t.finish()
