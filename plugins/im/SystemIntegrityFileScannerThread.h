// CFileIntegrityScanThread: the scanner of "File" entities. It reuses the
// directory walk to record matching non-directory entries, and adds content
// digests (md5, sha1, sha256), size, blocks and the size trend "growing" /
// "shrinking" measured against the previous version.
//
// Thread safety: as its base; everything here belongs to the scanner's thread.
#pragma once

#include <memory>
#include <vector>

#include "plugins/im/SystemIntegrityFileScannerThreadDirectory.h"
#include "plugins/im/FileIntegrityKeyMatch.h"

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
    void ClearEntityAttributeData() override;
    bool FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures& features) const override;
    bool WantDirectories() const override { return false; }
    bool WantFiles() const override { return true; }

    // Size recorded for the previous version of the file last gathered; -1 for none.
    long long GetPreviousSize() const { return m_previousSize; }

    // Content is read in windows of this size.
    static const unsigned long s_ReadWindow = 0x80000;
    // Files without a size are read in chunks of this size, waiting this long for data.
    static const unsigned long s_StreamChunk = 0x2000;
    static const int s_StreamWaitSeconds = 10;

private:
    // Which digests one group of sets (following links or not) asks for.
    struct HashRequest {
        bool md5 = false, sha1 = false, sha256 = false;
        bool Any() const { return md5 || sha1 || sha256; }
    };
    void AddFileAttributesOfInterest(const CSqlFileEntitySet& set, long long entityId, bool md5Allowed,
                                     HashRequest& request);
    void HashWanted(const wxString& path, const HashRequest& followLinks, const HashRequest& noFollow);
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
    void WriteTrend(const wxString& name, bool verdict, const KvoCore::Int64Set& entityIds);
    void UpdateInternalValue(long long entityId, const wxString& name);
    // The path the file-system calls use: keys that are hex strings stand for raw bytes.
    static wxString FileSystemPath(const wxString& key);

    CFileIntegrityKeyMatch m_fileMatcher;
    long long m_previousSize = -1;
    std::unique_ptr<wxSQLite3Statement> m_previousSizeStmt;
    std::unique_ptr<wxSQLite3Statement> m_updateInternalValueStmt;
    // Entity rows of the current key whose sets do not follow links.
    std::vector<long long> m_noFollowEntityIds;
    // Read buffer shared by every content read of this scanner.
    std::vector<unsigned char> m_readBuffer;
    ReadFailure m_readFailure = ReadFailure::None;
    wxString m_readFailureReason;
};

}  // namespace KvoPluginIm
