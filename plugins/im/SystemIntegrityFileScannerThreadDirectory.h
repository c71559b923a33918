// CDirectoryIntegrityScanThread: the scanner of "Directory" entities. It walks
// the tree below each entity set's search base, records every matching
// directory, and reads the attributes the sets monitor. The file scanner
// derives from it and reuses the walk for files.
//
// Thread safety: as its base; everything here belongs to the scanner's thread.
#pragma once

#include <sys/stat.h>

#include <unordered_set>
#include <utility>
#include <vector>

#include <wx/arrstr.h>
#include <wx/string.h>

#include "plugins/im/DirectoryIntegrityKeyMatch.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

class CSqlDirectoryEntitySet;

class CDirectoryIntegrityScanThread : public CIntegrityScanThread {
public:
    CDirectoryIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan);
    ~CDirectoryIntegrityScanThread() override;

    wxString GetThreadName() const override;
    CSqlEntitySet* CreateEntitySetObject() const override;
    KvoCore::XMLObjectList* CreateEntitySetCollection() const override;
    void GatherAttributes(const wxString& key, EntityInfoList& entities) override;
    bool MatchSet(const KvoCore::XMLObjectList* sets, const CSqlEntitySet* set,
                  const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                  const CSqlIntegrityRule& rule, unsigned long maxDepth,
                  const KvoCore::Int64Set& includeExcludeIds) override;
    void RecordAttribute(const wxString& key, const wxString& attributeName,
                         const KvoCore::Int64Set& entityIds) override;
    const CSystemIntegrityKeyMatch* GetKeyMatcher() const override { return &m_matcher; }
    const char* GetTraceMask() const override;
    void ClearEntityAttributeData() override;

    // Whether the walk must open each candidate file for the set's features.
    virtual bool FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures& features) const;
    virtual bool WantDirectories() const { return true; }
    virtual bool WantFiles() const { return false; }

    // Monitor-flag names as the entity-set records report them.
    struct AttributeNames {
        AttributeNames();
        wxString permissions, created, lastModified, lastAccessed, owner, group, symLinkPath, inodeNumber,
            inodeGenerationNumber, deviceNumber;
        wxString size, sha1, sha256, md5, blocksAllocated, growing, shrinking;
    };
    static const AttributeNames& Names();

protected:
    // What the walk carries unchanged through its recursion.
    struct WalkContext {
        const KvoCore::XMLObjectList* sets;
        const CSqlDirectoryEntitySet& set;
        const CSqlIntegrityRule& rule;
        const CSqlIncludeExcludeFeatures& features;
        const CSqlIncludeExcludePatterns& patterns;
        const KvoCore::Int64Set& includeExcludeIds;
        bool openFiles;
        // The directories from the start of the walk down to the one being
        // listed, by device and inode: a link back to one of them is a loop.
        std::vector<std::pair<std::pair<dev_t, ino_t>, wxString>>& onPath;
    };

    // Walks directory and, up to depth levels, below it; false only when the scan must stop.
    bool MatchDir(const WalkContext& walk, const wxString& searchBase, const wxString& directory,
                  unsigned long depth);
    void RecordEntity(const WalkContext& walk, const wxString& path);
    // Reads the target of a symbolic link (per the status record) into m_symlinkPath.
    void GetSymlinkPath(const wxString& key);
    // The wanted directory attributes of one entity set, for its entity row.
    void AddDirectoryAttributesOfInterest(const CSqlDirectoryEntitySet& set, long long entityId);
    // Reads status and security data as the attributes of interest need them.
    void ReadEntityState(const wxString& path, bool wantStatus);
    // Writes a directory attribute; false when name is not one of them.
    bool RecordDirectoryAttribute(const wxString& name, const KvoCore::Int64Set& entityIds);
    bool Wants(const wxString& name) const { return m_attributesOfInterest.count(name) != 0; }

    // Per-entity data, emptied by ClearEntityAttributeData.
    long long m_created = 0;
    long long m_lastAccessed = 0;
    long long m_lastModified = 0;
    long long m_size = 0;
    bool m_statusRead = false;
    // The key is gone (its status cannot be read: ENOENT, ENOTDIR).
    bool m_vanished = false;
    struct stat m_status;
    wxString m_owner, m_ownerFriendly, m_group, m_groupFriendly, m_permissions, m_permissionsFriendly;
    wxString m_symlinkPath;
    KvoCore::MapStringToInt64Set m_attributesOfInterest;

private:
    // Lists directory once: non-directories into files, directories (and
    // links to them) into subdirectories, links among them into links; the
    // directory's own status into status. 0, or the error that stopped it.
    int ListDirectory(const wxString& directory, wxArrayString& files, wxArrayString& subdirectories,
                      std::unordered_set<wxString>& links, struct stat& status) const;
    // A directory that exists but cannot be listed: what was below it stays as it was.
    void KeepBelowUnlistable(const WalkContext& walk, const wxString& directory, int error);
    // The path of the directory on the walk's path that status names; empty when none.
    static wxString FindOnPath(const WalkContext& walk, const struct stat& status);
    void RecordFiles(const WalkContext& walk, const wxString& searchBase, const wxString& directory,
                     const wxArrayString& files);
    void RecordDirectories(const WalkContext& walk, const wxString& searchBase, const wxString& directory,
                           const wxArrayString& subdirectories, bool skipping);
    void SaveCheckpoint(const CSqlDirectoryEntitySet& set, const wxString& directory);
    bool ShouldEnter(const WalkContext& walk, const wxString& searchBase, const wxString& sub, bool isLink);
    // The agent's work directory (as given and as resolved): neither it nor
    // anything below it is recorded, or the agent would report its own files.
    bool IsAgentWorkPath(const wxString& path);
    wxString ChildPath(const wxString& directory, const wxString& name) const;

    CDirectoryIntegrityKeyMatch m_matcher;
    CSqlEntity m_entity;  // reused for every insert
    std::vector<wxString> m_agentWorkPaths;  // filled on first use
};

}  // namespace KvoPluginIm
