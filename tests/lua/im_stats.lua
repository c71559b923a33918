-- Counters and the four tables of "GetStats", through the module's functions.
local t = require "testlib"
require "im"
local I = SLB.im.ImThread

local function metrics()
  return (select(3, I.GetStats()))
end

local function count(tbl)
  local n = 0
  for _ in pairs(tbl) do n = n + 1 end
  return n
end

-- Four tables; the rule tables stay empty until rules are stored.
local active, inactive, counters, attributes = I.GetStats()
t.equal("0|0|table|table", t.results(count(active), count(inactive), type(counters), type(attributes)),
        "four tables, no rule counts or deleted rules yet")
t.equal("table", type(I.GetRuleIdAndName()), "GetRuleIdAndName gives a table")

-- InitializeEntityCounts sets exactly the sixteen counters to 0.
local names = { "entitiesInTable", "entitiesDeleted", "entitiesCreated", "entitiesSentToTzm", "entitiesSuperceded",
                "entitiesMarkeredCreated", "entitiesMarkeredDeleted", "entitiesIncompleteDeleted",
                "realtimeEventReceived", "realtimeEventDroppedNoOnc", "realtimeEventDroppedDbNoInit",
                "realtimeEventDroppedDbErr", "realtimeEventDroppedNotInRules", "realtimeEventAdded2Cache",
                "realtimeEventDroppedCondensing", "realtimeEventEntityProcessed" }
I.IncEntitiesTotalCount()
I.InitializeEntityCounts()
counters = metrics()
t.equal(#names, count(counters), "sixteen counters")
for _, name in ipairs(names) do t.equal(0, counters[name], name .. " starts at 0") end

-- Each counter function moves its counters, and only those.
local cases = {
  { "IncEntitiesTotalCount", {}, { entitiesInTable = 1, entitiesCreated = 1 } },
  { "IncEntitiesDeletedCount", { 3 }, { entitiesInTable = -3, entitiesDeleted = 3 } },
  { "IncEntitiesSentToTzmCount", { 4 }, { entitiesSentToTzm = 4 } },
  { "IncEntitiesSupercededCount", {}, { entitiesSuperceded = 1 } },
  { "IncMarkersCreatedCount", {}, { entitiesMarkeredCreated = 1 } },
  { "IncMarkersDeletedCount", { 2 }, { entitiesMarkeredDeleted = 2 } },
  { "IncIncompleteDeletedCount", { 6 }, { entitiesIncompleteDeleted = 6 } },
  { "IncEntitiesDeletedCount", { -2 }, { entitiesInTable = 2, entitiesDeleted = -2 } },
}
for _, case in ipairs(cases) do
  local name, args, changes = case[1], case[2], case[3]
  I.InitializeEntityCounts()
  t.equal(0, select("#", I[name](table.unpack(args))), name .. " returns nothing")
  counters = metrics()
  for _, counter in ipairs(names) do
    t.equal(changes[counter] or 0, counters[counter], name .. " -> " .. counter)
  end
end

-- SetInitialCount seeds the entity count that deletions then lower.
I.InitializeEntityCounts()
I.SetInitialCount(10)
I.IncEntitiesDeletedCount(3)
t.equal("7|3", t.pick(metrics(), "entitiesInTable,entitiesDeleted"), "10 - 3 entities in the table, 3 deleted")
I.IncEntitiesTotalCount()
t.equal(8, metrics().entitiesInTable, "a created entity adds one")
I.SetInitialCount(0)
t.equal("0|3", t.pick(metrics(), "entitiesInTable,entitiesDeleted"), "SetInitialCount replaces only the value")

-- Entity-attribute metrics: per type, per attribute.
I.IncEntityAttributeMetric("File", "sha256")
I.IncEntityAttributeMetric("File", "sha256")
I.IncEntityAttributeMetric("File", "size")
I.IncEntityAttributeMetric("User", "uid")
attributes = select(4, I.GetStats())
t.equal("2|2|1|1|nil", t.results(count(attributes), attributes.File.sha256, attributes.File.size, attributes.User.uid,
                                 attributes.User.sha256), "counted per type and attribute")
I.InitializeEntityCounts()
t.equal(2, count((select(4, I.GetStats()))), "entity counts leave the attribute metrics")
I.InitializeAttributeCounts()
t.equal(0, count((select(4, I.GetStats()))), "InitializeAttributeCounts empties them")

-- Names are kept byte for byte.
I.IncEntityAttributeMetric("Fil\195\169", "x\255y")
t.equal(1, (select(4, I.GetStats()))["Fil\195\169"]["x\255y"], "non-ASCII names round-trip")

t.finish()
