-- `kvo-agent check`, after its scan has completed: the integrity events
-- recorded after a given event id, read through the plug-in's query as an
-- agent that delivers them reads them. Argument: that event id. Leaves its
-- results in globals for the host: eventMode; in mode 1 also events (every
-- column, the newest 20000 at most) and, only when there were more,
-- changeCounts (events per change code, over all of them). In mode 2 the
-- events are JSON lines, not rows.
require "im"
local I = SLB.im.ImThread
local after = tonumber((...)) or 0
local limit = 20000

eventMode = I.GetStatus(dom).eventMode
if eventMode == 2 then return end

-- A report for people is no delivery: what it reads stays in the table.
if dom:Get("zel.im.eventsToRetain") == nil then dom:Set("zel.im.eventsToRetain", 2^53) end

local function query(...)
  local result, status, message = I.GetEvents(dom, ...)
  if not result then error(string.format("GetEvents: %s (status %s)", tostring(message), tostring(status))) end
  return result
end

-- recordedFrom 1 asks for the window, which hands out every column.
events = query(after, 0, 1, 0, limit)
if #events < limit then return end

-- The window holds the newest only; paging counts them all.
changeCounts = {}
local last, page = after
repeat
  page = query(last, 0, 0, 0, limit)
  for _, e in ipairs(page) do
    changeCounts[e.change] = (changeCounts[e.change] or 0) + 1
    last = e.integrityEventId
  end
until #page < limit
