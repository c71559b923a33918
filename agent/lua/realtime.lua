-- The agent's real-time loop, on an agent thread of its own, started by
-- run.lua before the control loop: when the configuration allows on-change,
-- it starts the engine (SLB.RealtimeEngine), tells the plug-in that
-- real-time notifications come (zel.im.realtimeMode), and feeds every
-- notification to the on-change object, calling its Update at the interval
-- it asks for. The on-change object takes its watch lists from the stored
-- rules, so it is opened afresh each time the control loop has processed the
-- configuration; the one it replaces keeps being updated until what it holds
-- has settled into si.db. Raises kvo.realtime.decided once it knows whether
-- an engine runs (run.lua waits for that before it starts the control loop).
require "im"
local O = SLB.im.OnChange
local E = SLB.RealtimeEngine

local settings = E.Settings(dom)
local engine, reason
if settings.allowOnChange then
  engine, reason = E.Start(dom)
else
  reason = "the configuration does not allow on-change"
  dom:Set("kvo.realtime.engine", "none")
end
if engine then
  dom:Set("zel.im.realtimeMode", true)
  dom:Log("info", "real-time engine: " .. engine:Kind())
else
  dom:Log("info", "real-time engine: none (" .. tostring(reason) .. ")")
end
dom:ConditionRaise("kvo.realtime.decided")

local CONFIG = "zel.im.configProcessed"
dom:ConditionRegister(CONFIG)
local configSeen = 0

-- The control loop reads once, at its start, whether real-time notifications
-- come: a reload that turns on-change on or off is followed after a restart,
-- and the log says so rather than leave it unnoticed.
local allowedAtStart, allowedLast = settings.allowOnChange, settings.allowOnChange
local function followAllowed(allowed)
  if allowed == allowedLast then return end
  allowedLast = allowed
  if allowed == allowedAtStart then return end
  dom:Log("warning", allowed
    and "real-time: the configuration now allows on-change; the real-time engine starts when the agent restarts"
    or "real-time: the configuration no longer allows on-change; the real-time engine runs until the agent restarts")
end

if not engine then
  -- An engine that could not start, or was turned off, is no reload's to follow.
  if allowedAtStart then return end
  repeat
    local count = dom:ConditionQuery(CONFIG) or 0
    if count ~= configSeen then
      configSeen = count
      followAllowed(E.Settings(dom).allowOnChange)
    end
  until dom:ShouldExit(500)
  return
end
local current, nextUpdate = nil, 0
local retiring = {}  -- replaced objects, each until its changes have settled
local lastChange = -math.huge

local function settleAll()
  return settings.settleMs + math.max(settings.settleMs, 1000)
end

local function reopen()
  settings = E.Settings(dom)
  followAllowed(settings.allowOnChange)
  if current then retiring[#retiring + 1] = {object = current, closeAt = E.Clock() + settleAll()} end
  current = O(dom, settings.settleMs, settings.maxDelayMs)
  O.Register(current, dom)
  current:Open()
  local dirs, extensions = current:GetDirList({}, {})
  engine:Watch(dirs, extensions)
  dom:Log("info", string.format("real-time: watching %d directories and %d extensions (settle %d ms)",
                                #dirs, #extensions, settings.settleMs))
  nextUpdate = 0
end

local function housekeeping()
  local now = E.Clock()
  if current and now >= nextUpdate then nextUpdate = now + current:Update() end
  for i = #retiring, 1, -1 do
    local old = retiring[i]
    old.object:Update()
    if now >= old.closeAt then
      old.object:Close()  -- which also unregisters whichever object is registered
      O.Register(current, dom)
      table.remove(retiring, i)
    end
  end
end

-- Feeds what waits, but never past the next Update.
local function feed(first)
  local n = first
  while n do
    O.Change(dom, n)
    lastChange = E.Clock()
    if lastChange >= nextUpdate then return end
    n = engine:Next(0)
  end
end

while not dom:ShouldExit(0) do
  local count = dom:ConditionQuery(CONFIG) or 0
  if count ~= configSeen then
    configSeen = count
    reopen()
  end
  housekeeping()
  local wait = current and math.max(1, math.min(nextUpdate - E.Clock(), 1000)) or 200
  local n = engine:Next(wait)
  if n then
    -- Nothing is told before an object is open: its watch lists start the engine's reports.
    if current then feed(n) end
  end
end

engine:Stop()
-- What was noticed just before the stop still reaches si.db: the cache of
-- the on-change object does not outlive it.
if current then
  local n = engine:Next(0)
  while n do
    O.Change(dom, n)
    lastChange = E.Clock()
    n = engine:Next(0)
  end
  repeat
    housekeeping()
    local still = E.Clock() < lastChange + settleAll() or #retiring > 0
    if still then engine:Next(100) end  -- the engine has stopped: a pause
  until not still
  current:Close()
end
