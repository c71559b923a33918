-- Query edge cases beside im_queries.lua: event limits in both modes, where
-- maxEntityId stops a window, event retention, the rebuild bit of the pending
-- mask and the dump's rule names and attribute lists.
local t = require "testlib"
require "im"
local I = SLB.im.ImThread

local dbPath = dom:Get("zel.im.dbPath")

local function sql(statements)
  local pipe = assert(io.popen("sqlite3 '" .. dbPath .. "'", "w"))
  pipe:write(".bail on\n", statements, "\n")
  assert(pipe:close(), "sqlite3 failed on: " .. statements)
end

local function query(statement)
  local pipe = assert(io.popen("sqlite3 '" .. dbPath .. "' '" .. statement .. "'"))
  local out = pipe:read("*a"):gsub("\n$", "")
  pipe:close()
  return out
end

local function ids(list)
  local out = {}
  for i, item in ipairs(list or {}) do out[i] = item.integrityEventId end
  return table.concat(out, ",")
end

I.GetStatus(dom)  -- creates si.db
-- Events 1..20001, event n recorded at n seconds and naming entity n; event 5
-- was entity 5 and is now entity 1, event 6 names entity 1 only.
sql([[WITH RECURSIVE n(id) AS (SELECT 1 UNION ALL SELECT id + 1 FROM n WHERE id < 20001)
INSERT INTO IntegrityEvents(integrityEventId, recorded, status, integrityRuleId, change, severity, isEntity,
  entityType, key, description) SELECT id, id * 1000, -1, 1, 2, 2, id, 'File', '/etc/f' || id, '' FROM n;
UPDATE IntegrityEvents SET wasEntity = 5, isEntity = 1 WHERE integrityEventId = 5;
UPDATE IntegrityEvents SET isEntity = 1 WHERE integrityEventId = 6;]])

-- mode, recordedFrom, first and last id of the 20000 served for 50000.
for _, c in ipairs({ { "paging", 0, 1, 20000 }, { "window", 1, 2, 20001 } }) do
  local events = I.GetEvents(dom, 0, 0, c[2], 0, 50000)
  t.equal(20000, #events, c[1] .. ": limit 50000 serves 20000")
  t.equal(c[3] .. "," .. c[4], events[1].integrityEventId .. "," .. events[#events].integrityEventId, c[1] .. " ends")
  t.equal(1, #I.GetEvents(dom, 0, 0, c[2], 0, 0), c[1] .. ": limit 0 serves 1")
end
t.equal("13,14", ids(I.GetEvents(dom, 12.9, 0, 0, 0, 2)), "lastEventId 12.9 pages after 12")
-- A window stops at event 5 (its old entity is newer than 4); event 6 waits too.
t.equal("1,2,3,4", ids(I.GetEvents(dom, 0, 4, 1, 6000, 10)), "maxEntityId 4 in a window")

-- Each call keeps the newest retain events up to lastEventId; the rest are gone.
for _, c in ipairs({ { 64, 100, "37|64" }, { nil, 200, "137|64" }, { 90, 300, "211|90" } }) do
  dom:Set("zel.im.eventsToRetain", c[1])
  local label = "retain " .. tostring(c[1]) .. ", lastEventId " .. c[2]
  t.equal(c[2] + 1, I.GetEvents(dom, c[2], 0, 0, 0, 1)[1].integrityEventId, label .. ": served")
  t.equal(c[3], query("SELECT MIN(integrityEventId), COUNT(*) FROM IntegrityEvents WHERE integrityEventId <= " ..
                      c[2]), label .. ": oldest kept and count")
end

-- The rebuild bit comes from either key and counts once.
local pendingKeys = { "zel.im.bNeedRebuildBaseline", "zel.im.bRulesChanged", "zel.im.bOnChangeDataAvailable" }
for n, c in ipairs({ { 1, true, false, false }, { 1, false, true, false }, { 1, true, true, false },
                     { 5, false, true, true } }) do
  for i, key in ipairs(pendingKeys) do dom:Set(key, c[i + 1]) end
  t.equal(c[1], I.GetStatus(dom).pendingScanBitmask, "pending mask, case " .. n)
end

-- Dump lines: rule 1 has an identifier, rule 2 none; entity 2's list is cut.
local long = string.rep("x", 5000)
sql([[INSERT INTO IntegrityRules(integrityRuleId, name, identifier) VALUES(1, 'Ssh', '1002'), (2, 'Web', '');
INSERT INTO Entitys(entityId, entityType, integrityRuleId, key, whenScanned, attributeHash, supercededBy)
  VALUES(1, 'File', 1, '/etc/a', 1700000000999, x'01', NULL), (2, 'Directory', 2, '/etc/b', 86399999, x'02', 0);
INSERT INTO Attributes(entityId, name, value, friendlyValue)
  VALUES(1, 'uid', '0', 'root'), (1, 'mode', '644', 'rw-r--r--'), (2, 'content', ']] .. long .. [[', '');]])
t.equal(2, I.DumpBaseline(dom), "two entities written")
local file = assert(io.open(dom:GetWorkdir() .. "/im/im_baseline.txt"))
file:read("*l")
t.equal("1;NULL;1002 - Ssh;File;/etc/a;Tue Nov 14 22:13:20 2023;[mode=644,uid=0]", file:read("*l"), "attributes")
t.equal("2;0; - Web;Directory;/etc/b;Thu Jan  1 23:59:59 1970;[content=" .. string.rep("x", 4085) .. "]",
        file:read("*l"), "a list cut to 4095 bytes, its last byte replaced by the bracket")
t.equal(nil, file:read("*l"), "nothing more")
file:close()

t.finish()
