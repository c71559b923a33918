// CDirectoryIntegrityScanThread: the walk below an entity set's search base
// and the recording of matching entities.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/log.h>
#include "plugins/im/RecordRegEx.h"

#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "core/StateKeys.h"
#include "plugins/im/SystemIntegrityFileScannerThreadDirectory.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {
namespace {

// Pseudo and network file systems: their content is not the host's to
// protect, and reading it may stall or change with every look.
bool IsExcludedFileSystem(const wxString& path) {
    struct statfs fs;
    if (statfs(path.fn_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x9fa0:      // proc
        case 0x1cd1:      // devpts
        case 0x6969:      // NFS
        case 0x64626720:  // debugfs
        case 0x73636673:  // securityfs
        case 0x62656572:  // sysfs
            return true;
        default:
            return false;
    }
}

wxString DirectoryPath(const wxString& path) {
    wxFileName name;
    name.AssignDir(path);
    return name.GetPath(wxPATH_GET_VOLUME);
}

}  // namespace

bool CDirectoryIntegrityScanThread::MatchSet(const KvoCore::XMLObjectList* sets, const CSqlEntitySet* entitySet,
                                             const CSqlIncludeExcludeFeatures& features,
                                             const CSqlIncludeExcludePatterns& patterns, const CSqlIntegrityRule& rule,
                                             unsigned long maxDepth, const KvoCore::Int64Set& includeExcludeIds) {
    const CSqlDirectoryEntitySet& set = *static_cast<const CSqlDirectoryEntitySet*>(entitySet);
    std::vector<std::pair<std::pair<dev_t, ino_t>, wxString>> onPath;
    const WalkContext walk{sets,     set, rule, features, patterns, includeExcludeIds, FeaturesRequireFileOpen(features),
                           onPath};
    KVO_SCANNER_TRACE("MatchSet(): IntegrityRule {%d:%s} %sSet {%lld:%s}", static_cast<int>(rule.GetId()),
                      rule.GetName(), set.GetEntityType(), set.m_entitySetId, set.m_directory);
    const wxString base = DirectoryPath(set.m_directorySearchBase);
    if (set.m_directoryRegEx.empty()) return MatchDir(walk, base, base, maxDepth);

    const CRecordRegEx* regEx = set.GetSearchRegEx();
    if (regEx == nullptr) {
        Dom().AgentEventWrite(8050, wxString::Format("%d|%s|%s|%s", static_cast<int>(rule.GetId()),
                                                     KvoCore::ReplaceBars(rule.GetName()), KvoCore::ReplaceBars(rule.GetIdentifier()),
                                                     KvoCore::ReplaceBars(set.m_directoryRegEx)));
        return false;
    }
    KVO_SCANNER_TRACE("Opening base directory %s", base);
    wxDir dir;
    {
        wxLogNull quiet;  // a missing base ends the set quietly
        if (!wxDir::Exists(base) || !dir.Open(base)) {
            const wxCharBuffer narrow = base.fn_str();
            if (DIR* probe = opendir(narrow))
                closedir(probe);
            else if (errno != ENOENT && errno != ENOTDIR)
                KeepBelowUnlistable(walk, base, errno);
            return true;
        }
    }
    wxArrayString starts;
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_DIRS | wxDIR_HIDDEN); more; more = dir.GetNext(&name)) {
        const wxString path = DirectoryPath(ChildPath(base, name));
        const bool matched = regEx->Matches(path);
        KVO_SCANNER_TRACE("Directory '%s' did%s match regex %s", path, matched ? "" : " not", set.m_directoryRegEx);
        if (matched) starts.Add(path);
    }
    SortKeys(starts);
    for (const wxString& start : starts)
        if (!MatchDir(walk, start, start, maxDepth)) return false;
    return true;
}

bool CDirectoryIntegrityScanThread::MatchDir(const WalkContext& walk, const wxString& searchBase,
                                             const wxString& directory, unsigned long depth) {
    if (ShouldShutdown()) return false;
    const bool skipping = CompareCheckpointInfoToEntity(StepMatchEntities, walk.set, directory) >= 0;
    KVO_SCANNER_TRACE("MatchDir(): Depth %d %sSet {%lld:%s} Skipping=%d Directory=%s", static_cast<int>(depth),
                      walk.set.GetEntityType(), walk.set.m_entitySetId, walk.set.m_directory, skipping ? 1 : 0,
                      directory);
    wxArrayString files;
    wxArrayString subdirectories;
    std::unordered_set<wxString> links;
    struct stat status;
    // A directory that is gone or unreadable records nothing and is not
    // descended; one that is unreadable is no deleted one.
    if (const int error = ListDirectory(directory, files, subdirectories, links, status)) {
        if (error != ENOENT && error != ENOTDIR) KeepBelowUnlistable(walk, directory, error);
        return true;
    }
    const wxString ancestor = FindOnPath(walk, status);
    if (!ancestor.empty()) {
        KvoCore::LogWarning(wxString::Format("Symbolic link loop: %s leads back to %s; not entered again", directory,
                                             ancestor));
        return true;
    }

    std::optional<KvoCore::CSqliteTransaction> transaction;
    if (!skipping) {
        transaction.emplace(Db());
        if (WantFiles()) RecordFiles(walk, searchBase, directory, files);
    }
    RecordDirectories(walk, searchBase, directory, subdirectories, skipping);
    Stmt().insertEntity->Reset();
    if (transaction) {
        // Each directory's entries are committed together with the checkpoint naming it.
        SaveCheckpoint(walk.set, directory);
        transaction->Commit();
    }

    if (depth <= 1 || subdirectories.empty()) return true;
    SortKeys(subdirectories);
    walk.onPath.push_back({{status.st_dev, status.st_ino}, directory});
    bool go = true;
    for (const wxString& name : subdirectories) {
        const wxString sub = ChildPath(directory, name);
        if (!ShouldEnter(walk, searchBase, sub, links.count(name) != 0)) continue;
        if (!(go = MatchDir(walk, searchBase, sub, depth - 1))) break;
    }
    walk.onPath.pop_back();
    return go;
}

wxString CDirectoryIntegrityScanThread::FindOnPath(const WalkContext& walk, const struct stat& status) {
    for (const auto& [id, path] : walk.onPath)
        if (id.first == status.st_dev && id.second == status.st_ino) return path;
    return wxString();
}

void CDirectoryIntegrityScanThread::KeepBelowUnlistable(const WalkContext& walk, const wxString& directory,
                                                        int error) {
    Dom().DoAgentEventWriteAndLog(3010, KvoCore::LogLevel::Warning, "%s scanner cannot list directory %s: %s",
                                  GetEntityType(), KvoCore::ReplaceBars(directory),
                                  KvoCore::ReplaceBars(wxString(strerror(error))));
    const int kept = KeepUnseenEntitiesBelow(walk.set.m_entitySetId, directory);
    KVO_SCANNER_TRACE("%d %s entities below %s kept as they were", kept, GetEntityType(), directory);
}

bool CDirectoryIntegrityScanThread::IsAgentWorkPath(const wxString& path) {
    if (m_agentWorkPaths.empty()) {
        const wxString work = Dom().GetWxString(KvoCore::Keys::kWorkPath);
        m_agentWorkPaths.push_back(work);
        const wxCharBuffer narrow = work.fn_str();
        if (char* resolved = narrow.data() != nullptr && *narrow.data() != 0 ? realpath(narrow, nullptr) : nullptr) {
            m_agentWorkPaths.push_back(wxString(resolved, *wxConvFileName));
            free(resolved);
        }
    }
    for (const wxString& work : m_agentWorkPaths)
        if (!work.empty() && path == work) return true;
    return false;
}

bool CDirectoryIntegrityScanThread::ShouldEnter(const WalkContext& walk, const wxString& searchBase,
                                                const wxString& sub, bool isLink) {
    if (IsAgentWorkPath(sub)) return false;
    if (IsExcludedFileSystem(sub)) {
        KVO_SCANNER_TRACE("Excluded Filesystem for %s", sub);
        return false;
    }
    // The listing already told links apart; no second lstat is needed.
    if (!walk.set.m_followLinks && isLink) return false;
    return ShouldDescend(walk.features, walk.patterns, walk.includeExcludeIds, searchBase, sub);
}

int CDirectoryIntegrityScanThread::ListDirectory(const wxString& directory, wxArrayString& files,
                                                 wxArrayString& subdirectories, std::unordered_set<wxString>& links,
                                                 struct stat& status) const {
    const wxCharBuffer narrow = directory.fn_str();
    DIR* dir = opendir(narrow);
    if (dir == nullptr) return errno;
    // One pass with the entry types readdir gives; a stat only where it gives
    // none, or for a link, which counts as what it points to (as wxDir does).
    const int dirFd = dirfd(dir);
    int error = fstat(dirFd, &status) == 0 ? 0 : errno;
    // Names are gathered narrow first and the arrays sized once: a wxArrayString
    // growing entry by entry copied every name at each step, 8 MB at once for
    // a directory of 18,000 files.
    std::vector<std::string> fileNames, directoryNames;
    while (error == 0) {
        errno = 0;
        const struct dirent* entry = readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        bool isDirectory = entry->d_type == DT_DIR;
        bool isLink = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN || isLink) {
            struct stat st;
            if (entry->d_type == DT_UNKNOWN && fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                isLink = S_ISLNK(st.st_mode);
            isDirectory = fstatat(dirFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDirectory) {
            directoryNames.emplace_back(name);
            if (isLink) links.insert(wxString(name, *wxConvFileName));
        } else {
            fileNames.emplace_back(name);
        }
    }
    closedir(dir);
    for (const auto& [names, array] : {std::pair{&fileNames, &files}, std::pair{&directoryNames, &subdirectories}}) {
        array->Alloc(array->size() + names->size());
        for (const std::string& name : *names) array->Add(wxString(name.c_str(), *wxConvFileName));
    }
    return error;
}

void CDirectoryIntegrityScanThread::RecordFiles(const WalkContext& walk, const wxString& searchBase,
                                                const wxString& directory, const wxArrayString& files) {
    const CSystemIntegrityKeyMatch& matcher = *GetKeyMatcher();
    for (const wxString& name : files) {
        const wxString path = ChildPath(directory, name);
        // Non-blocking: opening a FIFO that has no writer would wait forever.
        const int fd = walk.openFiles ? FileOpenReadonly(path, O_NONBLOCK) : -1;
        int reason = -1;
        if (matcher.EntityMatches(searchBase, path, static_cast<unsigned long>(static_cast<long>(fd)), walk.sets,
                                  walk.set, walk.features, walk.patterns, walk.includeExcludeIds, reason))
            RecordEntity(walk, path);
        FileClose(fd);
    }
}

void CDirectoryIntegrityScanThread::RecordDirectories(const WalkContext& walk, const wxString& searchBase,
                                                      const wxString& directory,
                                                      const wxArrayString& subdirectories, bool skipping) {
    const CSystemIntegrityKeyMatch& matcher = *GetKeyMatcher();
    for (const wxString& name : subdirectories) {
        if (name.empty()) {
            KVO_SCANNER_TRACE("Empty directory name detected under %s", searchBase);
            continue;
        }
        if (skipping || !WantDirectories()) continue;
        const wxString path = ChildPath(directory, name);
        if (IsAgentWorkPath(path)) continue;
        int reason = -1;
        if (matcher.EntityMatches(searchBase, path, static_cast<unsigned long>(-1L), walk.sets, walk.set,
                                  walk.features, walk.patterns, walk.includeExcludeIds, reason))
            RecordEntity(walk, path);
    }
}

void CDirectoryIntegrityScanThread::RecordEntity(const WalkContext& walk, const wxString& path) {
    KVO_SCANNER_TRACE("Including %s", path);
    // Native names keep their case; only a case-blind host folds them.
    wxString keyCanonical = path;
    if (!m_matcher.EntityKeysAreCaseSensitive()) {
        wxFileName canonical(path, m_matcher.GetPathFormat());
        canonical.Normalize(wxPATH_NORM_CASE, wxEmptyString, m_matcher.GetPathFormat());
        keyCanonical = canonical.GetFullPath(m_matcher.GetPathFormat());
    }
    m_entity.SetFound(walk.set.GetEntityType(), walk.set.m_entitySetId, walk.rule.GetId(), keyCanonical, path,
                      KvoCore::TimeNowMillis());
    m_entity.SetSeverity(walk.rule.GetSeverity());
    const wxCharBuffer bytes = path.fn_str();
    if (!KvoCore::isLegalUTF8String(bytes.data(), bytes.length()))
        KvoCore::LogWarning("Found illegal utf8 char in the path.");
    m_entity.SQLInsert(Db(), *Stmt().insertEntity);
    CSystemIntegrityThread::IncEntitiesTotalCount();
}

void CDirectoryIntegrityScanThread::SaveCheckpoint(const CSqlDirectoryEntitySet& set, const wxString& directory) {
    CSqlSubscan& subscan = Subscan();
    subscan.m_checkpointInfo = wxString::Format("%lld:%s", set.m_entitySetId, directory);
    subscan.SetAttributeNull(&subscan.m_checkpointInfo, false);
    SaveSubscan();
}

wxString CDirectoryIntegrityScanThread::ChildPath(const wxString& directory, const wxString& name) const {
    if (directory.EndsWith(wxT("/"))) return directory + name;
    return directory + wxT("/") + name;
}

}  // namespace KvoPluginIm
