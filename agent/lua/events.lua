-- The integrity events recorded after a given event id, read through the
-- plug-in's query as an agent that delivers them reads them, for the event
-- lines that `run`, `baseline` and `check` show as events come. Arguments:
-- that event id; a time in milliseconds no later than that event was
-- recorded (0 when not known); the most to read. Leaves its results in
-- globals for the host: eventMode, and in mode 1 events (every column, the
-- newest of them, oldest first). In mode 2 the events are JSON lines, not rows.
require "im"
local I = SLB.im.ImThread
local after, from, limit = ...
after = tonumber(after) or 0
from = tonumber(from) or 0
limit = tonumber(limit) or 20000

eventMode = I.GetStatus(dom).eventMode
if eventMode == 2 then return end

-- What is read here for a person is no delivery, so the event id goes
-- unnamed (naming it would purge the events before it) and bounds the rows
-- afterwards; the time window, which the query serves even during a scan,
-- keeps the rows read few.
local window, status, message = I.GetEvents(dom, 0, 0, math.max(from, 1), 0, limit)
if not window then error(string.format("GetEvents: %s (status %s)", tostring(message), tostring(status))) end
events = {}
for _, e in ipairs(window) do
  if e.integrityEventId > after then events[#events + 1] = e end
end
