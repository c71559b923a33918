-- `kvo-agent events`, `entities`, `status` and `dump`: what a person asks of
-- the integrity database, read through the plug-in's query functions as an
-- agent that delivers results reads them. Arguments: the command, then for
-- events and entities the id after which to list, the most to list, and the
-- id up to which delivery is confirmed (0: none). Listing confirms nothing:
-- it goes through readEvents and readEntities (set by the host), which read
-- the tables and delete nothing; only a confirmation is passed to the
-- plug-in's query, which deletes what it may behind a delivered id. The
-- host sets ruleNames (rule id -> display name, from the configuration)
-- and configuredEventMode (1 or 2) before it runs this script, and
-- inRunningAgent when the command is carried out inside `kvo-agent run`. Results are left in globals for the host:
-- rows (events or entities, each with ruleName), or refusal {status,
-- message} when a query was refused; status and dump print their own lines.
require "im"
local I = SLB.im.ImThread
local command, after, limit, confirm = ...
after = tonumber(after) or 0
limit = tonumber(limit) or 100
confirm = tonumber(confirm) or 0

-- The plug-in knows its event mode only once its control loop has started.
local function eventModeOf(status)
  return status.eventMode ~= 0 and status.eventMode or configuredEventMode
end

local function ruleName(id)
  return ruleNames[id] or string.format("rule %d", id or 0)
end

-- Query functions answer nil, status and message when they refuse.
local function answered(result, status, message)
  if result == nil then refusal = {status = status or 0, message = message or ""} end
  return result
end

local function named(list)
  for _, row in ipairs(list) do row.ruleName = ruleName(row.integrityRuleId) end
  return list
end

local commands = {}

function commands.events()
  eventMode = eventModeOf(I.GetStatus(dom))
  if eventMode == 2 then return end
  -- Paging by id, as a delivering agent pages; refused during a scan.
  if confirm > 0 and not answered(I.GetEvents(dom, confirm, 0, 0, 0, 1)) then return end
  rows = named(readEvents(after, limit))
end

function commands.entities()
  if confirm > 0 and not answered(I.GetEntities(dom, confirm, 0)) then return end
  rows = named(readEntities(after, limit))
end

local scanNames = {"baseline", "incremental", "real-time", "pseudo-real-time"}
local pendingNames = {[1] = "baseline", [2] = "incremental", [4] = "real-time changes", [8] = "pseudo-real-time"}

local function sortedKeys(tbl)
  local keys = {}
  for key in pairs(tbl) do keys[#keys + 1] = key end
  table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
  return keys
end

local function printTable(title, tbl, label)
  local keys = sortedKeys(tbl)
  print(title .. (#keys == 0 and " none" or ""))
  for _, key in ipairs(keys) do print(string.format("  %s: %s", label(key), tostring(tbl[key]))) end
end

function commands.status()
  local s = I.GetStatus(dom)
  if s.imScanType == 0 then
    print("integrity scan: idle")
  else
    print(string.format("integrity scan: %s scan in progress, %d%% of its entity types done",
                        scanNames[s.imScanType] or ("type " .. s.imScanType), s.percentComplete))
  end
  local pending = {}
  for _, bit in ipairs({1, 2, 4, 8}) do
    if bit32.band(s.pendingScanBitmask, bit) ~= 0 then pending[#pending + 1] = pendingNames[bit] end
  end
  print("pending scans: " .. (#pending == 0 and "none" or table.concat(pending, ", ")))
  print(string.format("highest entity id: %d", s.highestEntityId))
  print(string.format("event mode: %d", eventModeOf(s)))
  -- The engine publishes itself in the running agent only; its counters
  -- (realtimeEvent...) are among the statistics below.
  local engine = dom:Get("kvo.realtime.engine") or "none"
  print(string.format("real-time engine: %s, %d directories watched, %d unwatched, %d changes left to scans",
                      engine, dom:Get("kvo.realtime.watchedDirs") or 0, dom:Get("kvo.realtime.unwatchedDirs") or 0,
                      dom:Get("kvo.realtime.deferred") or 0))
  -- Counted by the plug-in in this process: what it has recorded and delivered here.
  local active, inactive, metrics, attributes = I.GetStats()
  print(inRunningAgent and "statistics of the running agent:"
        or "statistics of this process (no agent runs on this work directory):")
  printTable(" entities recorded per rule:", active, ruleName)
  printTable(" deleted rules:", inactive, tostring)
  printTable(" counters:", metrics, tostring)
  print(" attributes monitored per entity type:" .. (next(attributes) and "" or " none"))
  for _, entityType in ipairs(sortedKeys(attributes)) do
    local counts = {}
    for _, name in ipairs(sortedKeys(attributes[entityType])) do
      counts[#counts + 1] = string.format("%s %d", name, attributes[entityType][name])
    end
    print(string.format("  %s: %s", entityType, table.concat(counts, ", ")))
  end
end

function commands.dump()
  local written, message = I.DumpBaseline(dom)
  -- Nothing written is a refusal only when the plug-in says why.
  if written == 0 and message ~= nil and message ~= "" then
    refusal = {status = 0, message = message}
    return
  end
  print(string.format("%s/im/im_baseline.txt: %d entities", dom:GetWorkdir(), written))
end

assert(commands[command], "no such query command: " .. tostring(command))()
