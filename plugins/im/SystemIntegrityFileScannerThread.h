// CFileIntegrityScanThread: the scanner of "File" entities. It reuses the
// directory walk to record matching non-directory entries, and adds content
// digests (md5, sha1, sha256), size, blocks and the size trend "growing" /
// "shrinking" measured against the previous version.
//
// Thread safety: as its base; everything here belongs to the scanner's thread.
#pragma once

#include <memory>
#include <vector>

#include "plugins/im/ContentDigests.h"
#include "plugins/im/ContentHashAhead.h"
#include "plugins/im/FileIntegrityKeyMatch.h"
#include "plugins/im/SystemIntegrityFileScannerThreadDirectory.h"

namespace KvoPluginIm {

class CSqlFileEntitySet;
struct FileReadContext;

class CFileIntegrityScanThread : public CDirectoryIntegrityScanThread {
public:
    CFileIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan);
    ~CFileIntegrityScanThread() override;

    void OnExit() override;
    wxString GetThreadName() const override;
    CSqlEntitySet* CreateEntitySetObject() const override;
    KvoCore::XMLObjectList* CreateEntitySetCollection() const override;
    void GatherAttributes(const wxString& key, EntityInfoList& entities) override;
    // Keeps the newest size behind an unchanged "growing"/"shrinking" verdict.
    void OnEntityUnchanged(const CSqlEntity& current, const CSqlEntity& previous) override;
    bool OnReadContentBegin(const wxString& key, unsigned long& handle) override;
    bool OnReadContent(const wxString& key, unsigned long handle, unsigned long long offset, void*& data,
                       unsigned long& length) override;
    bool OnReadContentEnd(const wxString& key, unsigned long handle) override;
    void RecordAttribute(const wxString& key, const wxString& attributeName,
                         const KvoCore::Int64Set& entityIds) override;
    const CSystemIntegrityKeyMatch* GetKeyMatcher() const override { return &m_fileMatcher; }
    const char* GetTraceMask() const override;
    bool OnThreadStartup() override;
    // The attribute step, with content read ahead on a helper thread.
    bool OnGatherAttributeValues() override;
    void ClearEntityAttributeData() override;
    bool FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures& features) const override;
    bool WantDirectories() const override { return false; }
    bool WantFiles() const override { return true; }

    // Hands the scan to an external scanner in VM-safe guest mode (or when
    // testing external entities); else the walk.
    bool OnMatchEntities() override;
    // Restarts an interrupted hand-over, else receives the entities.
    bool OnProcessExternalEntities() override;
    // Adds the size trend ("growing", "shrinking") and the flag words ("flags...").
    bool ProcessExternalEntityAttribute(const CSqlEntity& entity, const KvoCore::Int64Set& entityIds,
                                        const CSqlAttribute& attribute) override;

    // Size recorded for the previous version of the file last gathered; -1 for none.
    long long GetPreviousSize() const { return m_previousSize; }

    // Keys whose content is read ahead of the attribute step at most.
    static const size_t s_HashAheadDepth = 1024;
    static const unsigned s_HashAheadWorkers = 2;
    // Content is read in windows of this size.
    static const unsigned long s_ReadWindow = 0x80000;
    // Files without a size are read in chunks of this size, waiting this long for data.
    static const unsigned long s_StreamChunk = 0x2000;
    static const int s_StreamWaitSeconds = 10;

private:
    using HashRequest = DigestRequest;
    void AddFileAttributesOfInterest(const CSqlFileEntitySet& set, long long entityId, bool md5Allowed,
                                     HashRequest& request);
    void HashWanted(const wxString& key, const wxString& path, const HashRequest& followLinks,
                    const HashRequest& noFollow);
    // The digests of key from the read ahead; false when the scanner must hash it.
    bool TakeHashedAhead(const wxString& key, const HashRequest& request);
    // Hands the keys after key to the read ahead while it has room.
    void HashAheadOf(const wxString& key);
    void StopHashAhead();
    // Why the last content read gave no digest: another file took its place
    // (worth one more try), it was written while read, or it could not be
    // read (Reported: and that was logged already).
    enum class ReadFailure { None, Replaced, Changed, Failed, Reported };
    void FailRead(ReadFailure kind, const wxString& reason);
    bool ReadWindow(FileReadContext& context, unsigned long long offset, void*& data, unsigned long& length);
    bool ReadStreamed(const wxString& key, FileReadContext& context, void*& data, unsigned long& length);
    // The end of the content: true when the file is still the version examined.
    bool ReadEnded(FileReadContext& context);
    void LoadPreviousSize(const wxString& key);
    // Asks the agent's external scanner module to scan; true when it took the request.
    bool AskExternalScanner();
    // Deletes what an interrupted hand-over recorded and matches again.
    bool RestartHandOver();
    void WriteTrend(const wxString& name, bool verdict, const KvoCore::Int64Set& entityIds);
    void UpdateInternalValue(long long entityId, const wxString& name);
    // The path the file-system calls use: keys that are hex strings stand for raw bytes.
    static wxString FileSystemPath(const wxString& key);
    bool GatheredAnotherType() const override { return m_gatheredDirectory; }
    // The walk lists directories, and links to them, as directories.
    bool IsDirectory(const wxString& path) const;

    CFileIntegrityKeyMatch m_fileMatcher;
    long long m_previousSize = -1;
    std::unique_ptr<wxSQLite3Statement> m_previousSizeStmt;
    std::unique_ptr<wxSQLite3Statement> m_updateInternalValueStmt;
    std::unique_ptr<wxSQLite3Statement> m_nextKeysStmt;
    // The read ahead, while the attribute step runs; the CPU time of those that ended.
    bool m_hashAheadAllowed = false;
    std::unique_ptr<CContentHashAhead> m_hashAhead;
    long long m_hashAheadCpuNanos = 0;
    // Entity rows of the current key whose sets do not follow links.
    std::vector<long long> m_noFollowEntityIds;
    // Read buffer shared by every content read of this scanner.
    std::vector<unsigned char> m_readBuffer;
    ReadFailure m_readFailure = ReadFailure::None;
    // This run handed the scan over (in memory only: a restarted thread starts the hand-over again).
    bool m_externalEntities = false;
    bool m_gatheredDirectory = false;
    wxString m_readFailureReason;
};

}  // namespace KvoPluginIm
