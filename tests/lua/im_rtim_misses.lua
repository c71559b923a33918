-- Missed real-time changes: what is recorded, the limits, and the two ways
-- scripts read them back.
local t = require "testlib"
require "im"
local I = SLB.im.ImThread

local function count(tbl)
  local n = 0
  for _ in pairs(tbl) do n = n + 1 end
  return n
end
local fields = { hitcount = true, dropped = true, path = true, lasttime = true }
local function namesOf(entry)
  local names = {}
  for k, v in pairs(entry or {}) do if not fields[k] then names[k] = v end end
  return names
end

t.equal("", I.GetRTIMExclusions(), "empty exclusions")
t.equal(0, select("#", I.AddRTIMMiss("")) + select("#", I.AddRTIMMiss("", 3)), "AddRTIMMiss returns nothing")
t.equal(0, count(I.GetRTIMMissStats()), "empty path not recorded")

-- What each kind records for /var/log/app.log; one argument means kind 2.
for _, case in ipairs({ { nil, "*.log" }, { 2, "*.log" }, { 5, "*.log" }, { 3, "app.log" }, { 6, "app.log" },
                        { 1, nil }, { 4, nil }, { 0, nil }, { 7, nil } }) do
  local kind, name = case[1], case[2]
  local label = "kind " .. tostring(kind)
  I.ClearRTIMMisses()
  local before = (os.time() - 1) * 1000  -- time() is a coarse clock that may lag the milliseconds by a tick
  if kind then I.AddRTIMMiss("/var/log/app.log", kind) else I.AddRTIMMiss("/var/log/app.log") end
  local stats = I.GetRTIMMissStats()
  local entry = stats["/var/log"] or { lasttime = -1 }
  t.equal("1 1 0 /var/log", count(stats) .. " " .. tostring(entry.hitcount) .. " " .. tostring(entry.dropped) .. " "
          .. tostring(entry.path), label .. ": directories, hitcount, dropped, path")
  t.check(entry.lasttime >= before and entry.lasttime <= (os.time() + 2) * 1000, label .. ": lasttime is now in ms")
  local names = namesOf(entry)
  t.equal(name and 1 or 0, count(names), label .. ": names")
  t.equal(name and 1 or nil, name and names[name], label .. ": records " .. tostring(name))
  t.equal("/var/log/" .. (name or ""), I.GetRTIMExclusions(), label .. ": exclusions")
end
I.ClearRTIMMisses()
I.AddRTIMMiss("/srv/README")
t.equal(1, namesOf(I.GetRTIMMissStats()["/srv"])["*"], "kind 2 without an extension records *")

-- Exclusions: directories in order, ";" between, names after the separator.
I.ClearRTIMMisses()
I.AddRTIMMiss("/var/log/app.log", 2)
I.AddRTIMMiss("/var/log/app.txt", 3)
I.AddRTIMMiss("/opt/tool", 1)
I.AddRTIMMiss("/boot.img", 1)
t.equal("/;/opt/;/var/log/*.log,app.txt", I.GetRTIMExclusions(), "exclusions of three directories")
I.ClearRTIMMisses()
t.equal("0", I.GetRTIMExclusions() .. count(I.GetRTIMMissStats()), "ClearRTIMMisses forgets them")

-- Hits of one directory: repeated names count, a whole-directory miss adds no name.
I.AddRTIMMiss("/data/a.txt", 3)
I.AddRTIMMiss("/data/a.txt", 3)
I.AddRTIMMiss("/data/b.txt", 1)
local entry = I.GetRTIMMissStats()["/data"]
t.equal("3 2 1", entry.hitcount .. " " .. entry["a.txt"] .. " " .. count(namesOf(entry)), "hits, a.txt twice, one name")

-- At most 100 names per directory; later new names are only counted as dropped.
I.ClearRTIMMisses()
for i = 1, 100 do I.AddRTIMMiss(string.format("/names/f%03d.dat", i), 3) end
I.AddRTIMMiss("/names/f101.dat", 3)
I.AddRTIMMiss("/names/other.log", 2)
I.AddRTIMMiss("/names/f050.dat", 3)
entry = I.GetRTIMMissStats()["/names"]
t.equal("100 nil 2 2 103", count(namesOf(entry)) .. " " .. tostring(entry["f101.dat"]) .. " " .. entry["f050.dat"]
        .. " " .. entry.dropped .. " " .. entry.hitcount, "names kept, f101 not, f050 counts twice, dropped, hits")

-- At most 20 directories: a new one evicts the one missed least recently
-- (lasttime has millisecond resolution: let it move on between misses).
I.ClearRTIMMisses()
for i = 1, 20 do
  I.AddRTIMMiss(string.format("/dir%02d/file", i), 1)
  dom:ShouldExit(3)
end
local stats = I.GetRTIMMissStats()
t.check(stats["/dir01"].lasttime < stats["/dir02"].lasttime, "missed at distinct times")
I.AddRTIMMiss("/dir01/again", 1)  -- /dir01 is now the most recent, /dir02 the oldest
dom:ShouldExit(3)
I.AddRTIMMiss("/dir21/file", 1)
stats = I.GetRTIMMissStats()
t.equal(20, count(stats), "still 20 directories")
t.check(stats["/dir02"] == nil and stats["/dir21"] ~= nil, "the least recently missed directory went for the new one")
t.equal(2, stats["/dir01"] and stats["/dir01"].hitcount, "the re-missed directory stayed with two hits")

-- Paths that are not UTF-8 come back byte for byte.
I.ClearRTIMMisses()
I.AddRTIMMiss("/tmp/\255\254/n\195\164me.txt", 3)
t.equal(1, namesOf(I.GetRTIMMissStats()["/tmp/\255\254"])["n\195\164me.txt"], "directory and name bytes kept")
t.equal("/tmp/\255\254/n\195\164me.txt", I.GetRTIMExclusions(), "exclusions keep the bytes")

I.ClearRTIMMisses()
t.finish()
