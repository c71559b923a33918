#include <map>

#include "core/Utilities.h"
#include "core/hmd/HmdProcfs.h"
#include "core/hmd/HostMetaDataQueries.h"

namespace KvoCore {

namespace {

// Kernel threads, and processes whose executable cannot be read, are known by name.
wxString ProcessKey(const HmdProcess& process) {
    return process.hasExe ? BytesToText(process.exe) : "[" + BytesToText(process.name) + "]";
}

void AppendProcess(CHostMetaData& object, const HmdProcess& process, const std::map<long long, std::string>& namesByPid,
                   const HmdIdNames& names) {
    object.AppendAttribute("processId", toDecimalString(process.pid));
    object.AppendAttribute("commandLine", BytesToText(process.commandLine));
    // The parent's name, not its pid: it stays the same when the parent restarts.
    auto parent = namesByPid.find(process.parentPid);
    if (parent != namesByPid.end()) object.AppendAttribute("parent", BytesToText(parent->second));
    if (process.hasExe) object.AppendAttribute("path", BytesToText(process.exe));
    object.AppendAttribute("process", BytesToText(process.name));
    if (process.threads >= 0) object.AppendAttribute("threads", toDecimalString(process.threads));
    AppendProcessOwner(object, process, names);
}

}  // namespace

bool GetHmdRunningProcesses(CHostMetaDataQueryResult& result, int /*flags*/, const wxString& /*format*/) {
    result.Clear();
    std::vector<long long> pids = ListProcessIds();
    if (pids.empty()) return false;
    std::vector<HmdProcess> processes;
    std::map<long long, std::string> namesByPid;
    for (long long pid : pids) {
        HmdProcess process;
        if (!ReadHmdProcess(pid, true, process)) continue;
        namesByPid.emplace(pid, process.name);
        processes.push_back(std::move(process));
    }
    HmdIdNames names;
    names.Load();

    std::map<wxString, std::unique_ptr<CHostMetaData>> byKey;
    for (const HmdProcess& process : processes) {
        wxString key = ProcessKey(process);
        std::unique_ptr<CHostMetaData>& object = byKey[key];
        if (!object) object = std::make_unique<CHostMetaData>("Process", key);
        AppendProcess(*object, process, namesByPid, names);
    }
    for (auto& entry : byKey) result.Add(std::move(entry.second));
    result.SortByKey();
    return true;
}

}  // namespace KvoCore
