-- The integrity events recorded after a given event id, read through the
-- plug-in's query as an agent that delivers them reads them, for the event
-- lines that `run`, `baseline` and `check` show as events come. Arguments:
-- that event id; how many of the newest events to read. Leaves its results
-- in globals for the host: eventMode; in mode 1 windowRows (how many events
-- the query handed out, so that the host can tell a full window) and events
-- (every column, of those after the given id, oldest first). In mode 2 the
-- events are JSON lines, not rows.
require "im"
local I = SLB.im.ImThread
local after, limit = ...
after = tonumber(after) or 0
limit = tonumber(limit) or 20000

eventMode = I.GetStatus(dom).eventMode
windowRows = 0
if eventMode == 2 then return end

-- What is read here for a person is no delivery, so the event id goes
-- unnamed (naming it would purge the events before it) and bounds the rows
-- afterwards. A time window is what the query serves even during a scan;
-- the module narrows its bounds to 32 bits, which no time in milliseconds
-- survives, so the window is every event from the first millisecond on.
local window, status, message = I.GetEvents(dom, 0, 0, 1, 0, limit)
if not window then error(string.format("GetEvents: %s (status %s)", tostring(message), tostring(status))) end
windowRows = #window
events = {}
for _, e in ipairs(window) do
  if e.integrityEventId > after then events[#events + 1] = e end
end
