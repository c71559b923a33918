-- The module "im" as scripts see it: enumerations, the control-thread class,
-- argument errors of its functions, and loading the module a second time.
local t = require "testlib"

t.equal(true, require "im", "the module returns true")
t.equal("table", type(SLB.im), "namespace SLB.im")

-- Every enumerator with its number.
local enums = {
  ScanStatus = { Queued = 0, InProgress = 1, Paused = 2, Cancelling = 3, Idle = 4, NotSupported = 5 },
  ImScanType = { ImIdle = 0, ImBaseline = 1, ImIncremental = 2, ImRealtime = 3, ImPseudoRealtime = 4 },
}
for enum, values in pairs(enums) do
  local count = 0
  for _ in pairs(SLB.im[enum]) do count = count + 1 end
  local expected = 0
  for name, number in pairs(values) do
    expected = expected + 1
    local value = SLB.im[enum][name]
    t.equal("userdata", type(value), enum .. "." .. name .. " is a binder value")
    t.equal(number, SLB.tonumber(value), enum .. "." .. name)
  end
  t.equal(expected, count, enum .. " has no other enumerators")
end
t.check(SLB.im.ScanStatus.Idle ~= SLB.im.ImScanType.ImPseudoRealtime, "values of two enumerations differ")
t.check(SLB.im.ScanStatus.Idle == SLB.im.ScanStatus.Idle, "a value equals itself")
local debugRegistry = debug.getregistry()
t.check(debugRegistry["CScanStatus::_ScanStatus"] ~= nil, "ScanStatus has its binder enum type")
t.check(debugRegistry["KvoPluginIm::CImScanStatus::ImScanType"] ~= nil, "ImScanType has its binder enum type")

-- The control-thread object, built inside its userdata; arguments are ignored.
local cls = SLB.im.ImThread
t.equal("table", type(cls), "class SLB.im.ImThread")
t.equal(cls, debugRegistry["SLB.im.ImThread"], "the class is the registered metatable")
local thread = SLB.im.ImThread()
t.equal("userdata", cls == getmetatable(thread) and type(thread), "constructed, an object of the class")
t.check(tostring(thread):find("SLB.im.ImThread", 1, true), "printed with its class name")
t.equal("userdata", type(SLB.im.ImThread(1, "x")), "constructor ignores arguments")
-- Argument-less statics work as methods as well.
t.equal(4, select("#", thread:GetStats()), "GetStats as a method")
t.equal("string", type(thread:GetRTIMExclusions()), "GetRTIMExclusions as a method")

-- Members that are not part of the class surface yet are absent, not stubs.
local O = SLB.im.OnChange
t.raises("Expected (non-const) Object SLB.Dom", O, 1, 2, 3)
t.raises("Expected non-null object(SLB.im.OnChange)", O.Update, nil)
t.raises("kvo.im.OnChange expected", O.Register, dom, dom)
t.raises("kvo.Dom object expected", O.Register, O(dom, 1, 2), 1)
t.raises("kvo.Dom object expected", O.CheckOnChange, 1)
t.raises("kvo.im.OnChange expected", O.Change, 1, {})
local D = SLB.im.DecryptDatabase_l
t.raises("bad argument #1 to '?' (kvo.Dom object expected)", D, 1, "k", "a", "b")
t.raises("bad argument #4 to '?' (string expected, got no value)", D, dom, "k", "a")
t.equal(-1, D(dom, "k", "/nonexistent/source.db", "/nonexistent/copy.db"), "a failed copy returns -1")

-- Argument errors name the position and the expected type (pcall leaves the function unnamed).
local I = SLB.im.ImThread
local integerFunctions = { "IncEntitiesDeletedCount", "IncEntitiesSentToTzmCount", "IncMarkersDeletedCount",
                           "IncIncompleteDeletedCount", "SetInitialCount" }
for _, name in ipairs(integerFunctions) do
  t.raises("bad argument #1 to '?' (number expected, got string)", I[name], "seven")
  -- As a method the object takes the integer's place.
  t.raises("bad argument #1", function() return thread[name](thread, 1) end)
end
for _, c in ipairs({ { "#1 to '?' (number expected, got no value)", I.SetInitialCount },
                     { "#1 to '?' (string expected, got table)", I.AddRTIMMiss, {} },
                     { "#2 to '?' (number expected, got string)", I.AddRTIMMiss, "/tmp/a", "kind" },
                     { "#1 to '?' (string expected, got no value)", I.IncEntityAttributeMetric },
                     { "#2 to '?' (string expected, got boolean)", I.IncEntityAttributeMetric, "File", true } }) do
  t.raises("bad argument " .. c[1], table.unpack(c, 2))
end
-- A failed call changed nothing.
local _, _, metrics, attributes = I.GetStats()
t.equal("nil|nil|", t.results(metrics.entitiesInTable, next(attributes), I.GetRTIMExclusions()),
        "no counter, attribute metric or missed change from failed calls")

-- Integers are narrowed to 32 bits.
for _, c in ipairs({ { 2^32 + 5, 5 }, { 2^31, -2^31 } }) do
  I.SetInitialCount(c[1])
  t.equal(c[2], (select(3, I.GetStats())).entitiesInTable, string.format("%.0f arrives as %.0f", c[1], c[2]))
end

-- Loading the module again keeps the class, its fields and its objects.
cls.addedByScript = "kept"
local idle = SLB.im.ScanStatus.Idle
package.loaded.im = nil
t.equal(true, require "im", "second load returns true")
local open = package.loadlib(package.searchpath("im", package.cpath), "luaopen_im")
t.equal(true, open(), "entry point called directly")
t.check(cls == SLB.im.ImThread and cls == debugRegistry["SLB.im.ImThread"] and cls == getmetatable(SLB.im.ImThread()),
        "one SLB.im.ImThread class, the registered metatable, given to new objects")
t.equal("kept", SLB.im.ImThread.addedByScript, "the existing class stays in use")
t.equal(4, select("#", thread:GetStats()), "an object made before still works")
t.check(idle == SLB.im.ScanStatus.Idle, "enumeration values of both loads compare equal")

thread = nil
collectgarbage()  -- a broken __gc ends the script with an error
collectgarbage()

t.finish()
