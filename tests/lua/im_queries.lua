-- The query functions as scripts see them: argument conversion, the tables
-- they return, and their nil/status/message results. Rows are put into si.db
-- with the sqlite3 shell, beside the plug-in's own connections.
local t = require "testlib"
require "im"
local I = SLB.im.ImThread

local workdir = dom:GetWorkdir()
local dbPath = dom:Get("zel.im.dbPath")

local function sql(statements)
  local pipe = assert(io.popen("sqlite3 '" .. dbPath .. "'", "w"))
  pipe:write(".bail on\n", statements, "\n")
  local ok = pipe:close()
  assert(ok, "sqlite3 failed on: " .. statements)
end

local function count(tbl)
  local n = 0
  for _ in pairs(tbl) do n = n + 1 end
  return n
end

local function ids(list, field)
  local out = {}
  for i, item in ipairs(list) do out[i] = item[field] end
  return table.concat(out, ",")
end

-- The first query creates si.db with its schema.
local status = I.GetStatus(dom)
t.equal("table", type(status), "GetStatus on a new database")

-- Entities 1..15: 12 is superseded by 13; 14 has attributes.
local rows = { "BEGIN;" }
for id = 1, 15 do
  rows[#rows + 1] = string.format(
    "INSERT INTO Entitys(entityId, entityType, integrityRuleId, key, whenScanned, attributeHash, supercededBy) " ..
    "VALUES(%d, 'File', 1, '/etc/f%d', 1700000000123, x'a1b2', %s);", id, id, id == 12 and "13" or "NULL")
end
rows[#rows + 1] = "INSERT INTO Attributes(entityId, name, value, friendlyValue) VALUES(14, 'uid', '0', 'root');"
rows[#rows + 1] = "INSERT INTO Attributes(entityId, name, value, friendlyValue) VALUES(14, 'mode', '644', 'rw-r--r--');"
rows[#rows + 1] = "INSERT INTO Attributes(entityId, name, value, friendlyValue) " ..
                  "VALUES(14, 'lastModified', '1700000000123456789', '');"
-- Events 1..5 recorded at 1000, 2000, ..., each naming the entity of its number.
for id = 1, 5 do
  rows[#rows + 1] = string.format(
    "INSERT INTO IntegrityEvents(integrityEventId, recorded, status, integrityRuleId, change, severity, isEntity, " ..
    "entityType, key, description) VALUES(%d, %d, -1, 1, 2, 2, %d, 'File', '/etc/f%d', 'mode:NjQ0_NjAw');",
    id, id * 1000, id, id)
end
rows[#rows + 1] = "COMMIT;"
sql(table.concat(rows, "\n"))

-- GetEntities: the entity table, one member table per entity.
local entities = I.GetEntities(dom, 0, 20)
t.equal("table", type(entities), "GetEntities gives a table")
t.equal(15, #entities, "every entity")
local e = entities[14]
t.equal("14|File|1|/etc/f14|a1b2|0", t.pick(e, "id,type,integrityRuleId,key,fastHash,fingerprinted"),
        "entity fields, fastHash in hexadecimal")
t.equal("lastModified,mode,uid", ids(e.Attributes, "name"), "attributes by name")
t.equal("1700000000123|644|rw-r--r--", e.Attributes[1].value .. "|" .. t.pick(e.Attributes[2], "value,friendlyValue"),
        "times in milliseconds, value, friendlyValue")
t.equal(0, #entities[1].Attributes, "an entity without attributes has an empty array")

-- lastId 12.9 is entity 12 (truncated): superseded 12 is confirmed away, 13 comes first.
t.equal("13,14", ids(I.GetEntities(dom, 12.9, 2.9), "id"), "12.9 -> 12 and maxCount 2.9 -> 2")
t.equal(3, #I.GetEntities(dom, 0, 2^32 + 3), "maxCount 2^32 + 3 arrives as 3")
t.equal("11,13", ids(I.GetEntities(dom, 10, 2), "id"), "entity 12 is gone")
t.equal(0, #I.GetEntities(dom, 0, -5), "a negative maxCount takes nothing")

-- GetEvents in paging mode: the event model only.
local events = I.GetEvents(dom, 1.7, 0, 0, 0, 2)
t.equal("2,3", ids(events, "integrityEventId"), "paging after event 1, two events")
t.equal("2000|-1|2|2|nil|nil", t.pick(events[1], "recorded,status,change,isEntity,wasEntity,key"),
        "event fields; a NULL wasEntity is absent, no key in paging mode")

-- Window mode: every column.
events = I.GetEvents(dom, 0, 0, 1, 0, 2)
t.equal("4,5", ids(events, "integrityEventId"), "the newest two by time")
t.equal("/etc/f5|File|mode:NjQ0_NjAw", t.pick(events[2], "key,entityType,description"), "every column in window mode")

-- maxEntityId stops at the first event naming a newer entity.
t.equal("1,2,3", ids(I.GetEvents(dom, 0, 3, 0, 0, 10), "integrityEventId"), "maxEntityId 3")
t.equal("1,2,3", ids(I.GetEvents(dom, 0, 3.99, 0, 0, 10), "integrityEventId"), "maxEntityId 3.99 -> 3")

-- recordedFrom and recordedTo pass the low 32 bits, sign-extended. During a scan
-- only a window is served, so what arrives shows through the refusal.
dom:Set("zel.im.bScanRunning", true)
local busy = "nil|0|Integrity scan in progress"
t.equal(busy, t.results(I.GetEvents(dom, 0, 0, 0, 0, 10)), "paging refused during a scan")
t.equal(3, select("#", I.GetEvents(dom, 0, 0, 2^40, 0, 10)), "2^40 arrives as 0: paging, refused")
t.equal(nil, (I.GetEvents(dom, 0, 0, 0, 2^40, 10)), "recordedTo 2^40 arrives as 0 too")
t.equal(nil, (I.GetEvents(dom, 0, 0, 2^32 + 2^31 + 5, 0, 10)), "2^31 + 5 in the low bits is negative: no bound")
events = I.GetEvents(dom, 0, 0, 2^33 + 3000, 0, 10)
t.equal("3,4,5", ids(events or {}, "integrityEventId"), "2^33 + 3000 arrives as 3000: a window from 3000")
events = I.GetEvents(dom, 0, 0, 1, 2^32 + 2000, 10)
t.equal("1,2", ids(events or {}, "integrityEventId"), "recordedTo 2^32 + 2000 arrives as 2000")
t.equal(1, #I.GetEvents(dom, 0, 0, 1, 0, 2^32 + 1), "limit 2^32 + 1 arrives as 1")

-- GetEntities and DumpBaseline are refused during a scan as well.
t.equal(busy, t.results(I.GetEntities(dom, 0, 10)), "GetEntities refused")
t.equal("0|Integrity scan in progress", t.results(I.DumpBaseline(dom)), "DumpBaseline refused")
dom:Set("zel.im.bScanRunning", false)

-- GetStatus: the status fields, flags and the open scan.
dom:Set("zel.im.bNeedIncrementalScan", true)
dom:Set("zel.im.bNeedPseudoRealtimeScan", true)
status = I.GetStatus(dom)
local fields = { scanError = "boolean", status = "number", interactive = "number", imScanType = "number",
                 percentComplete = "number", pendingScanBitmask = "number", highestEntityId = "number",
                 imCapabilityMask = "number", eventMode = "number" }
t.equal(count(fields), count(status), "nine fields")
for name, kind in pairs(fields) do t.equal(kind, type(status[name]), name) end
t.equal(table.concat({ 10, 3, 15, SLB.tonumber(SLB.im.ImScanType.ImIdle), SLB.tonumber(SLB.im.ScanStatus.Idle), 1,
                      "false" }, "|"),
        t.pick(status, "pendingScanBitmask,imCapabilityMask,highestEntityId,imScanType,status,interactive,scanError"),
        "incremental and pseudo-real-time pending, capabilities, highest id, idle, interactive, no error")
sql("INSERT INTO Scans(scanId, startTime, incrementalScan) VALUES(1, 1700000000000, 2);" ..
    "INSERT INTO Subscans(scanId, startTime, endTime, entityType) VALUES(1, 1, 2, 'File');" ..
    "INSERT INTO Subscans(scanId, startTime, entityType) VALUES(1, 1, 'Directory');")
status = I.GetStatus(dom)
t.equal(table.concat({ SLB.tonumber(SLB.im.ImScanType.ImRealtime), SLB.tonumber(SLB.im.ScanStatus.InProgress), 0, 50 },
                     "|"), t.pick(status, "imScanType,status,interactive,percentComplete"),
        "a real-time scan of the agent's own in progress, one of two subscans done")
t.equal(1, #I.GetEvents(dom, 0, 0, 1, 0, 1), "a window is served during the scan")
-- ... and while a scanner holds the write lock, without waiting for it.
local marker = workdir .. "/locked"
local writer = assert(io.popen("sqlite3 '" .. dbPath .. "' >/dev/null", "w"))
writer:write("BEGIN IMMEDIATE; DELETE FROM IntegrityEvents;\n.system touch '", marker, "'\n")
writer:flush()
for _ = 1, 200 do
  if io.open(marker) then break end
  os.execute("sleep 0.05")
end
t.equal(1, #(I.GetEvents(dom, 0, 0, 1, 0, 1) or {}), "a window beside a write lock")
writer:write("ROLLBACK;\n")
writer:close()
sql("UPDATE Scans SET endTime=1700000060000;")
dom:Set("zel.im.bNeedIncrementalScan", false)
dom:Set("zel.im.bNeedPseudoRealtimeScan", false)

-- DumpBaseline: the number written, or 0 and a message.
t.equal("14", t.results(I.DumpBaseline(dom)), "current entities written, one result")
local file = io.open(workdir .. "/im/im_baseline.txt")
t.check(file ~= nil, "im_baseline.txt in the plug-in directory")
if file then
  t.equal("EntityId;SupercededBy;RuleID-RuleName;Type;Key;Recorded;Attributes", file:read("*l"), "header")
  t.equal("1;NULL;none;File;/etc/f1;Tue Nov 14 22:13:20 2023", file:read("*l"), "first entity")
  file:close()
end

-- Argument 1 must be the agent object.
local thread = SLB.im.ImThread()
for _, name in ipairs({ "GetEntities", "GetEvents", "GetStatus", "DumpBaseline" }) do
  t.raises("bad argument #1 to '?' (kvo.Dom object expected)", I[name])
  t.raises("bad argument #1 to '?' (kvo.Dom object expected)", I[name], {}, 0, 10, 0, 0, 10)
  t.raises("bad argument #1 to '?' (kvo.Dom object expected)", I[name], thread, 0, 10, 0, 0, 10)
  t.raises("kvo.Dom object expected", function() return thread[name](thread, dom, 0, 10, 0, 0, 10) end)
end
t.raises("bad argument #2 to '?' (number expected, got string)", I.GetEntities, dom, "x", 10)
t.raises("bad argument #3 to '?' (number expected, got no value)", I.GetEntities, dom, 0)
t.raises("bad argument #6 to '?' (number expected, got no value)", I.GetEvents, dom, 0, 0, 0, 0)
t.raises("bad argument #4 to '?' (number expected, got table)", I.GetEvents, dom, 0, 0, {}, 0, 1)

-- A database that cannot be opened: nil, 500 and the message; the status still comes.
dom:Set("zel.im.dbPath", workdir .. "/no/such/dir/si.db")
local broken = "Error opening integrity monitoring database."
t.equal("nil|500|" .. broken, t.results(I.GetEntities(dom, 0, 10)), "GetEntities without a database")
t.equal("nil|500|" .. broken, t.results(I.GetEvents(dom, 0, 0, 0, 0, 10)), "GetEvents without a database")
t.equal("0|" .. broken, t.results(I.DumpBaseline(dom)), "DumpBaseline without a database")
t.equal("3|0", t.pick(I.GetStatus(dom), "imCapabilityMask,highestEntityId"), "GetStatus without a database")

t.finish()
