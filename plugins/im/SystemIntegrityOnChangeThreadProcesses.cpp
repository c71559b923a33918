// Process starts and ends, found by comparing the host's process list with
// the one seen at the previous poll.
#include "core/Log.h"
#include "core/hmd/HostMetaDataQueries.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"

namespace KvoPluginIm {

void CSystemIntegrityOnChangeThread::UpdateProcessInfo(bool report) {
    if (!m_processMonitoring) return;
    KvoCore::CHostMetaDataQueryResult result;
    if (!KvoCore::GetHmdRunningProcesses(result, 1, "integrityFormat")) return;
    // The host reports one object per executable, all its processes in it: an
    // executable starts when its first process does and ends with its last,
    // so the cache is kept by key rather than by pid.
    std::map<wxString, std::unique_ptr<KvoCore::CHostMetaData>> running;
    for (const auto& object : result) {
        auto process = std::make_unique<KvoCore::CHostMetaData>("Process", object->GetKey());
        for (const auto& attribute : object->GetAttributes())
            for (const wxString& value : attribute.second) process->AppendAttribute(attribute.first, value);
        running.emplace(object->GetKey(), std::move(process));
    }
    if (report) {
        KVO_TRACE(s_Trace, "pidsRunningNow: %u", static_cast<unsigned>(running.size()));
        for (auto it = m_processCache.begin(); it != m_processCache.end();) {
            if (running.count(it->first) != 0) {
                ++it;
                continue;
            }
            OnEntityChanged(*it->second, kDelete, 0, wxString(), nullptr, nullptr);
            it = m_processCache.erase(it);
        }
    }
    ReportProcesses(running, report);
}

void CSystemIntegrityOnChangeThread::ReportProcesses(
    std::map<wxString, std::unique_ptr<KvoCore::CHostMetaData>>& running, bool report) {
    std::vector<const KvoCore::CHostMetaData*> started;
    for (auto& entry : running) {
        if (m_processCache.count(entry.first) != 0) continue;
        started.push_back(entry.second.get());
        m_processCache.emplace(entry.first, std::move(entry.second));
    }
    KVO_TRACE(s_Trace, "hmdqr objects: %u", static_cast<unsigned>(started.size()));
    if (!report) return;
    for (const KvoCore::CHostMetaData* process : started) {
        // The host names the parent, not its pid: the creator is known by name.
        wxString user, creator, pid;
        process->GetAttribute("user", user);
        process->GetAttribute("parent", creator);
        process->GetAttribute("processId", pid);
        OnEntityChanged(*process, kCreate, KvoCore::TimeNowMillis(), user, creator.wc_str(), pid.wc_str());
    }
}

}  // namespace KvoPluginIm
