// Missed real-time changes: directories (and names in them) for which change
// notification failed, so that later changes there count as covered.
#include <iterator>
#include <memory>

#include <wx/filename.h>
#include <wx/thread.h>

#include "core/Log.h"
#include "core/Utilities.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {

namespace {

const size_t kMaxDirectories = 20;
const size_t kMaxNamesPerDirectory = 100;

wxMutex s_rtimMissLock(wxMUTEX_RECURSIVE);
std::map<wxString, std::unique_ptr<RTIM_Miss_Entry>> rtim_misses;

struct SplitPath {
    wxString directory;
    wxString filePart;   // name, with "." + extension when there is one
    wxString extension;
};

SplitPath Split(const wxString& fullPath) {
    const wxFileName file(fullPath);
    SplitPath split;
    split.directory = file.GetPath(wxPATH_GET_VOLUME);
    split.extension = file.GetExt();
    split.filePart = file.GetName();
    if (!split.extension.empty()) split.filePart += "." + split.extension;
    return split;
}

// What a miss of this kind records in its directory; empty: the whole directory.
wxString MissedName(const SplitPath& split, int kind) {
    switch (kind) {
        case 2:
        case 5: return split.extension.empty() ? wxString("*") : "*." + split.extension;
        case 3:
        case 6: return split.filePart;
        default: return wxString();
    }
}

void Touch(RTIM_Miss_Entry& entry) {
    entry.hitcount += 1;
    entry.lasttime = KvoCore::TimeNowMillis();
}

bool AddToEntry(RTIM_Miss_Entry& entry, const wxString& name) {
    Touch(entry);
    if (name.empty()) return false;
    auto found = entry.names.find(name);
    if (found != entry.names.end()) {
        found->second += 1;
        return false;
    }
    if (entry.names.size() >= kMaxNamesPerDirectory) {
        entry.dropped += 1;
        return false;
    }
    entry.names[name] = 1;
    return true;
}

// The name of the entry that this change matches; true when it matches at all.
bool MatchesEntry(const RTIM_Miss_Entry& entry, const SplitPath& split, wxString& matched) {
    if (entry.names.empty()) return true;
    if (entry.names.count(split.filePart)) {
        matched = split.filePart;
        return true;
    }
    if (!split.extension.empty() && entry.names.count("*." + split.extension)) {
        matched = "*." + split.extension;
        return true;
    }
    return false;
}

}  // namespace

bool AddRTIMMiss(const wxString& fullPath, int kind) {
    if (fullPath.empty()) {
        KVO_TRACE(CSystemIntegrityThread::s_Trace, "fullPath was empty.");
        return false;
    }
    wxMutexLocker lock(s_rtimMissLock);
    const SplitPath split = Split(fullPath);
    const wxString name = MissedName(split, kind);
    auto found = rtim_misses.find(split.directory);
    if (found != rtim_misses.end()) return AddToEntry(*found->second, name);

    if (rtim_misses.size() >= kMaxDirectories) EraseOldestRTIMMiss();
    auto entry = std::make_unique<RTIM_Miss_Entry>();
    entry->hitcount = 1;
    entry->path = split.directory;
    if (!name.empty()) entry->names[name] = 1;
    entry->lasttime = KvoCore::TimeNowMillis();
    rtim_misses[split.directory] = std::move(entry);
    return true;
}

bool CheckRTIMMiss(const wxString& fullPath) {
    wxMutexLocker lock(s_rtimMissLock);
    const SplitPath split = Split(fullPath);
    auto found = rtim_misses.find(split.directory);
    if (found != rtim_misses.end()) {
        RTIM_Miss_Entry& entry = *found->second;
        wxString matched;
        if (!MatchesEntry(entry, split, matched)) return false;
        if (!matched.empty()) entry.names[matched] += 1;
        Touch(entry);
        return true;
    }

    // A whole-directory miss also covers everything below that directory.
    auto next = rtim_misses.lower_bound(split.directory);
    if (next == rtim_misses.begin()) return false;
    RTIM_Miss_Entry& before = *std::prev(next)->second;
    KVO_TRACE(CSystemIntegrityThread::s_Trace, "lower bound for %s points to %s", split.directory, before.path);
    if (!before.names.empty() || !fullPath.StartsWith(before.path + wxFileName::GetPathSeparator())) return false;
    Touch(before);
    return true;
}

void EraseOldestRTIMMiss() {
    wxMutexLocker lock(s_rtimMissLock);
    auto oldest = rtim_misses.end();
    for (auto it = rtim_misses.begin(); it != rtim_misses.end(); ++it) {
        if (oldest == rtim_misses.end() || it->second->lasttime < oldest->second->lasttime) oldest = it;
    }
    if (oldest != rtim_misses.end()) rtim_misses.erase(oldest);
}

void ClearRTIMMisses() {
    wxMutexLocker lock(s_rtimMissLock);
    rtim_misses.clear();
}

wxString GetRTIMExclusions() {
    wxMutexLocker lock(s_rtimMissLock);
    const wxString separator(wxFileName::GetPathSeparator());
    wxString exclusions;
    for (const auto& item : rtim_misses) {
        if (!exclusions.empty()) exclusions += ";";
        exclusions += item.first;
        if (!item.first.EndsWith(separator)) exclusions += separator;
        bool first = true;
        for (const auto& name : item.second->names) {
            if (!first) exclusions += ",";
            exclusions += name.first;
            first = false;
        }
    }
    return exclusions;
}

RTIMMissMap GetRTIMMisses() {
    wxMutexLocker lock(s_rtimMissLock);
    RTIMMissMap copy;
    for (const auto& item : rtim_misses) copy[item.first] = *item.second;
    return copy;
}

}  // namespace KvoPluginIm
