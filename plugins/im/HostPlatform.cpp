#include "plugins/im/HostPlatform.h"

#include <atomic>

#include "core/Dom.h"
#include "core/Utilities.h"

namespace KvoPluginIm {

namespace {

std::atomic<int> s_forcedPlatform{0};

}  // namespace

bool IsWindowsHost() {
    const KvoCore::CDom* dom = KvoCore::CDom::This();
    return dom != nullptr ? IsWindowsHost(*dom) : s_forcedPlatform.load() != 0;
}

bool IsWindowsHost(const KvoCore::CDom& agent) { return s_forcedPlatform.load() != 0 || agent.IsProtectingWindows(); }

bool IsLinuxHost() {
    const KvoCore::CDom* dom = KvoCore::CDom::This();
    if (dom == nullptr) return s_forcedPlatform.load() == 0;
    return dom->IsProtectingLinux();
}

wxString PlatformText(const wxString& windowsText, const wxString& linuxText) {
    if (!windowsText.empty() && IsWindowsHost()) return windowsText;
    if (!linuxText.empty() && IsLinuxHost()) return linuxText;
    return wxString();
}

void SetForcePlatform(int platform) { s_forcedPlatform.store(platform); }

wxString TimestampToJTimeText(const wxString& value) {
    wxLongLong_t fileTime = 0;
    if (!value.ToLongLong(&fileTime, 10)) return value;
    const long long ms =
        IsWindowsHost() ? KvoCore::FileTimestampToJTimeWindows(fileTime) : KvoCore::FileTimestampToJTime(fileTime);
    return wxString::Format("%lld", ms);
}

}  // namespace KvoPluginIm
