-- The integrity events recorded after a given event id, read through the
-- plug-in's query as an agent that delivers them reads them: for `kvo-agent
-- check` once its scan has completed, and for the event lines that `run`,
-- `baseline` and `check` show as events come. Arguments: that event id; the
-- most to read (20000, the query's own bound, unless given); "count" to also
-- count every event after the id per change when there were more than that.
-- Leaves its results in globals for the host: eventMode; in mode 1 also
-- events (every column, the newest of them) and, only when counted,
-- changeCounts. In mode 2 the events are JSON lines, not rows.
require "im"
local I = SLB.im.ImThread
local after, limit, count = ...
after = tonumber(after) or 0
limit = tonumber(limit) or 20000

eventMode = I.GetStatus(dom).eventMode
if eventMode == 2 then return end

-- What is read here for a person is no delivery: nothing may be deleted for
-- it. The retention setting is put back at once, so that a delivery confirmed
-- meanwhile (`kvo-agent events --after`) at worst purges a little later.
local retain = dom:Get("zel.im.eventsToRetain")
local function query(...)
  dom:Set("zel.im.eventsToRetain", 2^53)
  local result, status, message = I.GetEvents(dom, ...)
  dom:Set("zel.im.eventsToRetain", retain)
  if not result then error(string.format("GetEvents: %s (status %s)", tostring(message), tostring(status))) end
  return result
end

-- recordedFrom 1 asks for the window, which hands out every column.
events = query(after, 0, 1, 0, limit)
if #events < limit or count ~= "count" then return end

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
