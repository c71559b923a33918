-- Helper of im_running_limit: constructs the control-thread object once.
require "im"
local thread = SLB.im.ImThread()
thread = nil
collectgarbage()
