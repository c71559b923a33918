-- A script on an agent thread sleeps through dom:ShouldExit and is woken by Awaken.
local t = require "testlib"
local dir = dom:Get("lua.dir")

local th = dom:StartThread(dir .. "/sleeper.lua", "sleeper")
t.check(t.eventually(function() return dom:Get("sleeper.ready") == true end, 30000), "sleeper started")
t.check(th:IsRunning(), "thread is running")

for round = 1, 3 do
  th:Awaken()
  t.check(t.eventually(function() return dom:Get("sleeper.wakeups") == round end, 30000),
          "wake-up " .. round .. " seen by the sleeper")
end

-- The sleeper waits 60 s at a time: only a wake-up lets it see the stop key quickly.
dom:Set("sleeper.quit", true)
local before = os.time()
th:Awaken()
local ok, err = th:Join()
t.check(ok, "sleeper ended cleanly: " .. tostring(err))
t.check(os.time() - before < 10, "sleeper ended promptly")
t.check(not th:IsRunning(), "joined thread is not running")

-- A script that raises reports its error through Join.
local bad = dom:StartThread(dir .. "/raises.lua")
ok, err = bad:Join()
t.check(not ok, "a raising thread script fails")
t.check(err and err:find("deliberate failure", 1, true), "its error text: " .. tostring(err))
t.check(err and err:find("stack traceback", 1, true), "with a traceback")

local missing = dom:StartThread(dir .. "/no-such-script.lua")
ok, err = missing:Join()
t.check(not ok and err:find("no-such-script.lua", 1, true), "missing script named: " .. tostring(err))

-- A thread object that is dropped while its script still runs stops and joins on collection.
dom:Set("sleeper.quit", false)
dom:Set("sleeper.ready", false)
local dropped = dom:StartThread(dir .. "/sleeper.lua", "dropped")
t.check(t.eventually(function() return dom:Get("sleeper.ready") == true end, 30000), "second sleeper started")
dropped = nil
collectgarbage()
collectgarbage()
t.equal(true, dom:Get("sleeper.done.dropped"), "collection stopped and joined the thread")

t.finish()
