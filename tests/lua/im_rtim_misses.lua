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
  for k, v in pairs(entry) do
    if not fields[k] then names[k] = v end
  end
  return names
end

-- Nothing missed yet.
t.equal("", I.GetRTIMExclusions(), "empty exclusions")
t.equal(0, count(I.GetRTIMMissStats()), "empty statistics")

-- An empty path records nothing and returns nothing.
t.equal(0, select("#", I.AddRTIMMiss("")), "AddRTIMMiss returns nothing")
t.equal(0, select("#", I.AddRTIMMiss("", 3)), "with a kind as well")
t.equal(0, count(I.GetRTIMMissStats()), "empty path not recorded")

-- What each kind records for /var/log/app.log; one argument means kind 2.
local kinds = {
  { nil, "*.log" }, { 2, "*.log" }, { 5, "*.log" }, { 3, "app.log" }, { 6, "app.log" },
  { 1, nil }, { 4, nil }, { 0, nil }, { 7, nil },
}
for _, case in ipairs(kinds) do
  local kind, name = case[1], case[2]
  local label = "kind " .. tostring(kind)
  I.ClearRTIMMisses()
  -- time() is a coarse clock that may lag the milliseconds by a tick.
  local before = (os.time() - 1) * 1000
  if kind then I.AddRTIMMiss("/var/log/app.log", kind) else I.AddRTIMMiss("/var/log/app.log") end
  local stats = I.GetRTIMMissStats()
  t.equal(1, count(stats), label .. ": one directory")
  local entry = stats["/var/log"]
  t.check(entry ~= nil, label .. ": under /var/log")
  if entry then
    t.equal(1, entry.hitcount, label .. ": hitcount")
    t.equal(0, entry.dropped, label .. ": dropped")
    t.equal("/var/log", entry.path, label .. ": path")
    t.check(entry.lasttime >= before and entry.lasttime <= (os.time() + 2) * 1000,
            label .. ": lasttime is now in milliseconds: " .. tostring(entry.lasttime))
    local names = namesOf(entry)
    if name then
      t.equal(1, count(names), label .. ": one name")
      t.equal(1, names[name], label .. ": records " .. name)
      t.equal("/var/log/" .. name, I.GetRTIMExclusions(), label .. ": exclusions")
    else
      t.equal(0, count(names), label .. ": the whole directory")
      t.equal("/var/log/", I.GetRTIMExclusions(), label .. ": exclusions")
    end
  end
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
t.equal("", I.GetRTIMExclusions(), "ClearRTIMMisses forgets them")
t.equal(0, count(I.GetRTIMMissStats()), "and their statistics")

-- Hits of one directory: repeated names count, a whole-directory miss adds no name.
I.AddRTIMMiss("/data/a.txt", 3)
I.AddRTIMMiss("/data/a.txt", 3)
I.AddRTIMMiss("/data/b.txt", 1)
local entry = I.GetRTIMMissStats()["/data"]
t.equal(3, entry.hitcount, "three hits")
t.equal(2, entry["a.txt"], "a.txt twice")
t.equal(1, count(namesOf(entry)), "the whole-directory miss added no name")

-- At most 100 names per directory; later new names are only counted as dropped.
I.ClearRTIMMisses()
for i = 1, 100 do I.AddRTIMMiss(string.format("/names/f%03d.dat", i), 3) end
entry = I.GetRTIMMissStats()["/names"]
t.equal(100, count(namesOf(entry)), "100 names kept")
t.equal(0, entry.dropped, "none dropped")
I.AddRTIMMiss("/names/f101.dat", 3)
I.AddRTIMMiss("/names/other.log", 2)
entry = I.GetRTIMMissStats()["/names"]
t.equal(100, count(namesOf(entry)), "the 101st name is not stored")
t.equal(nil, entry["f101.dat"], "f101.dat not stored")
t.equal(2, entry.dropped, "two names dropped")
I.AddRTIMMiss("/names/f050.dat", 3)
entry = I.GetRTIMMissStats()["/names"]
t.equal(2, entry["f050.dat"], "a name already present still counts its hit")
t.equal(2, entry.dropped, "and is not dropped")
t.equal(103, entry.hitcount, "every miss is a hit of the directory")

-- At most 20 directories: a new one evicts the one missed least recently.
I.ClearRTIMMisses()
-- lasttime has millisecond resolution: let it move on before the next miss.
local function waitForClock() dom:ShouldExit(3) end
for i = 1, 20 do
  I.AddRTIMMiss(string.format("/dir%02d/file", i), 1)
  waitForClock()
end
local stats = I.GetRTIMMissStats()
t.equal(20, count(stats), "20 directories kept")
t.check(stats["/dir01"].lasttime < stats["/dir02"].lasttime, "missed at distinct times")
I.AddRTIMMiss("/dir01/again", 1)  -- /dir01 is now the most recent, /dir02 the oldest
waitForClock()
I.AddRTIMMiss("/dir21/file", 1)
stats = I.GetRTIMMissStats()
t.equal(20, count(stats), "still 20 directories")
t.equal(nil, stats["/dir02"], "the least recently missed directory went")
t.check(stats["/dir01"] ~= nil, "the first in order stayed: it was missed again")
t.check(stats["/dir21"] ~= nil, "the new directory is kept")
t.equal(2, stats["/dir01"].hitcount, "the re-missed directory counts two hits")

-- Paths that are not UTF-8 come back byte for byte.
I.ClearRTIMMisses()
I.AddRTIMMiss("/tmp/\255\254/n\195\164me.txt", 3)
stats = I.GetRTIMMissStats()
t.check(stats["/tmp/\255\254"] ~= nil, "directory bytes kept")
t.equal(1, stats["/tmp/\255\254"] and stats["/tmp/\255\254"]["n\195\164me.txt"], "name bytes kept")
t.equal("/tmp/\255\254/n\195\164me.txt", I.GetRTIMExclusions(), "exclusions keep the bytes")

I.ClearRTIMMisses()
t.finish()
