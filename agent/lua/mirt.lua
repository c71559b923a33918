-- The agent's side of the file scanner's hand-over (VM-safe guest mode): the
-- plug-in asks here for a scan of the guest's files, and an external scanner
-- (kvo-agent scan-root, or another) that sees the request scans and feeds
-- the entities back (kvo-agent feed). A request is the file
-- external-scan.request in the work directory, "KIND UUID TIME" replacing
-- the one before, and a line in the agent's log. 0 tells the plug-in that
-- the request was taken; a request that cannot be written raises.
SLB = SLB or {}
SLB.vanu = SLB.vanu or {}

local function enqueue(kind, uuid)
  local path = dom:GetWorkdir() .. "/external-scan.request"
  local partial = path .. ".tmp"
  local file = assert(io.open(partial, "w"))
  assert(file:write(string.format("%s %s %d\n", kind, tostring(uuid), os.time())))
  assert(file:close())
  -- Renamed into place, so that a watcher never reads half a request.
  assert(os.rename(partial, path))
  dom:Log("info", string.format("external %s scan requested for uuid '%s' in %s", kind, tostring(uuid), path))
  return 0
end

function SLB.vanu.imscan_enqueue_baseline(uuid) return enqueue("baseline", uuid) end
function SLB.vanu.imscan_enqueue_incremental(uuid) return enqueue("incremental", uuid) end

return SLB.vanu
