// CFileIntegrityScanThread: identity, statements and attribute gathering.
#include "plugins/im/SystemIntegrityFileScannerThread.h"

#include <wx/wxsqlite3.h>

#include <cstdlib>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntityAttribute.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CFileIntegrityScanThread::CFileIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CDirectoryIntegrityScanThread(dom, subscan), m_fileMatcher(&KvoCore::FileIsExecutable, GetPathFormat(dom)) {
    m_readBuffer.reserve(1024);
    // The helper reads for this scanner: its CPU time counts against the scanner's limit.
    SetHelperCpuSource([this] { return m_hashAheadCpuNanos + (m_hashAhead ? m_hashAhead->CpuNanos() : 0); });
}

CFileIntegrityScanThread::~CFileIntegrityScanThread() {
    StopHashAhead();
    // Statements must go before the connection the base closes.
    m_previousSizeStmt.reset();
    m_updateInternalValueStmt.reset();
    m_nextKeysStmt.reset();
}

wxString CFileIntegrityScanThread::GetThreadName() const { return wxT("CFileIntegrityScanThread"); }

CSqlEntitySet* CFileIntegrityScanThread::CreateEntitySetObject() const { return new CSqlFileEntitySet(); }

KvoCore::XMLObjectList* CFileIntegrityScanThread::CreateEntitySetCollection() const {
    return new CSqlFileEntitySets();
}

const char* CFileIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerFile; }

bool CFileIntegrityScanThread::FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures& features) const {
    return CFileIntegrityKeyMatch::FeaturesRequireFileOpen(features);
}

void CFileIntegrityScanThread::OnExit() {
    KVO_SCANNER_TRACE("CFileIntegrityScanThread::OnExit() %s", GetCPUTimeStr());
    StopHashAhead();
    m_previousSizeStmt.reset();
    m_updateInternalValueStmt.reset();
    m_nextKeysStmt.reset();
    CDirectoryIntegrityScanThread::OnExit();
}

bool CFileIntegrityScanThread::OnThreadStartup() {
    if (IsDbOpen()) {
        const CSqlEntityAttribute view;
        const CSqlAttribute attribute;
        const AttributeNames& n = Names();
        m_previousSizeStmt.reset(new wxSQLite3Statement(Db().PrepareStatement(wxString::Format(
            "SELECT [%s],[%s] FROM [%s] WHERE [%s]<?1 AND [%s]=?2 AND [%s]=?3 AND [%s] IN ('%s','%s','%s') AND "
            "([%s]=0 OR [%s] ISNULL) LIMIT 1;",
            view.GetAttributeName(&view.m_value), view.GetAttributeName(&view.m_internalValue),
            CSqlEntityAttribute::ElementName() + "s", view.GetAttributeName(&view.m_entityId),
            view.GetAttributeName(&view.m_entityType), view.GetAttributeName(&view.m_keyCanonical),
            view.GetAttributeName(&view.m_name), TrimAttributeName(n.size), TrimAttributeName(n.growing),
            TrimAttributeName(n.shrinking), view.GetAttributeName(&view.m_supercededBy),
            view.GetAttributeName(&view.m_supercededBy)))));
        m_updateInternalValueStmt.reset(new wxSQLite3Statement(Db().PrepareStatement(
            wxString::Format("UPDATE [%s] SET [%s]=?1 WHERE [%s]=?2 AND [%s]=?3;", CSqlAttribute::ElementName() + "s",
                             attribute.GetAttributeName(&attribute.m_internalValue),
                             attribute.GetAttributeName(&attribute.m_entityId),
                             attribute.GetAttributeName(&attribute.m_name)))));
        const CSqlEntity entity;
        m_nextKeysStmt.reset(new wxSQLite3Statement(Db().PrepareStatement(wxString::Format(
            "SELECT DISTINCT [%2$s] FROM [%1$s] WHERE [%3$s]>?1 AND [%2$s]>?2 AND [%4$s]=?3 ORDER BY [%2$s] LIMIT ?4;",
            CSqlEntity::ElementName() + "s", entity.GetAttributeName(&entity.m_keyCanonical),
            entity.GetAttributeName(&entity.m_entityId), entity.GetAttributeName(&entity.m_entityType)))));
    }
    return CDirectoryIntegrityScanThread::OnThreadStartup();
}

bool CFileIntegrityScanThread::OnGatherAttributeValues() {
    // Only this step walks the keys in an order known ahead; real-time
    // changes come one at a time.
    m_hashAheadAllowed = true;
    const bool done = CDirectoryIntegrityScanThread::OnGatherAttributeValues();
    m_hashAheadAllowed = false;
    StopHashAhead();
    return done;
}

void CFileIntegrityScanThread::StopHashAhead() {
    if (!m_hashAhead) return;
    // Its whole CPU time is known once its thread has ended.
    m_hashAhead->Stop();
    m_hashAheadCpuNanos += m_hashAhead->CpuNanos();
    m_hashAhead.reset();
}

void CFileIntegrityScanThread::ClearEntityAttributeData() {
    // A digest left from the previous file must never be written for this one
    // (a link without followLinks is not hashed at all).
    m_md5.clear();
    m_sha1.clear();
    m_sha256.clear();
    CDirectoryIntegrityScanThread::ClearEntityAttributeData();
}

wxString CFileIntegrityScanThread::FileSystemPath(const wxString& key) {
    if (!KvoCore::isHexString(key)) return key;
    wxMemoryBuffer bytes;
    KvoCore::fromHexString(key, bytes);
    return wxString(static_cast<const char*>(bytes.GetData()), wxConvLibc, bytes.GetDataLen());
}

void CFileIntegrityScanThread::AddFileAttributesOfInterest(const CSqlFileEntitySet& set, long long entityId,
                                                           bool md5Allowed, HashRequest& request) {
    const AttributeNames& n = Names();
    const std::pair<bool, const wxString*> wanted[] = {
        {set.m_monitorSize, &n.size},
        {set.m_monitorSha1, &n.sha1},
        {set.m_monitorSha256, &n.sha256},
        {set.m_monitorMd5, &n.md5},
        {set.m_monitorBlocksAllocated, &n.blocksAllocated},
        {set.m_monitorGrowing, &n.growing},
        {set.m_monitorShrinking, &n.shrinking},
    };
    for (const auto& w : wanted)
        if (w.first) KvoCore::AddToMapSet(m_attributesOfInterest, *w.second, entityId);
    request.md5 = request.md5 || (set.m_monitorMd5 && md5Allowed);
    request.sha1 = request.sha1 || set.m_monitorSha1;
    request.sha256 = request.sha256 || set.m_monitorSha256;
}

void CFileIntegrityScanThread::GatherAttributes(const wxString& key, EntityInfoList& entities) {
    KVO_SCANNER_TRACE("Gathering attributes for %s '%s' which appears in %u entity sets", GetEntityType(), key,
                      static_cast<unsigned>(entities.size()));
    const wxString path = FileSystemPath(key);
    const bool md5Allowed = !CSystemIntegrityThread::IsFipsModeEnabled();
    HashRequest followLinks;
    HashRequest noFollow;
    m_attributesOfInterest.clear();
    m_noFollowEntityIds.clear();
    // Never cut short by a stop: a version with only some of its attributes
    // would be committed as a change, and reported again as one by the next scan.
    for (const auto& info : entities) {
        const CSqlFileEntitySet& set = *static_cast<const CSqlFileEntitySet*>(info->m_entitySet);
        if (!set.m_followLinks) m_noFollowEntityIds.push_back(info->m_entity.m_entityId);
        KVO_SCANNER_TRACE("Gathering Attributes for EntityId: %ld EntitySetId: %ld",
                          static_cast<long>(info->m_entity.m_entityId), static_cast<long>(set.m_entitySetId));
        AddDirectoryAttributesOfInterest(set, info->m_entity.m_entityId);
        AddFileAttributesOfInterest(set, info->m_entity.m_entityId, md5Allowed,
                                    set.m_followLinks ? followLinks : noFollow);
    }
    ClearEntityAttributeData();
    const AttributeNames& n = Names();
    // The status is read whatever the sets want: it tells a file that
    // vanished since matching, and it is the version the content must match.
    ReadEntityState(path, true);
    // A directory is never a File version: the next walk would find no such file.
    m_gatheredDirectory = !m_vanished && IsDirectory(path);
    if (!m_vanished && !m_gatheredDirectory) HashWanted(key, path, followLinks, noFollow);
    if (m_vanished || m_gatheredDirectory) {
        DropVanishedEntities(key, entities);
        return;
    }
    m_previousSize = -1;
    if (GetScanType() != 0 && (Wants(n.growing) || Wants(n.shrinking))) LoadPreviousSize(key);
    GatherAttributesOfEntity(key, m_attributesOfInterest);
}

bool CFileIntegrityScanThread::IsDirectory(const wxString& path) const {
    if (S_ISDIR(m_status.st_mode)) return true;
    struct stat target {};
    return S_ISLNK(m_status.st_mode) && stat(path.fn_str(), &target) == 0 && S_ISDIR(target.st_mode);
}

void CFileIntegrityScanThread::HashWanted(const wxString& key, const wxString& path, const HashRequest& followLinks,
                                          const HashRequest& noFollow) {
    HashRequest request = followLinks;
    if (!S_ISLNK(m_status.st_mode)) {
        request.Add(noFollow);
    } else if (!m_noFollowEntityIds.empty()) {
        // A link's content is its target's: a set that does not follow links
        // gets no digest, even when another set of the same key hashes the target.
        const AttributeNames& n = Names();
        for (const wxString* name : {&n.md5, &n.sha1, &n.sha256}) {
            auto found = m_attributesOfInterest.find(*name);
            if (found == m_attributesOfInterest.end()) continue;
            for (long long id : m_noFollowEntityIds) found->second.erase(id);
        }
    }
    if (!request.Any() || TakeHashedAhead(key, request)) return;
    for (int attempt = 1;; ++attempt) {
        m_readFailure = ReadFailure::None;
        if (HashContent(path, request.md5, request.sha1, request.sha256) || m_readFailure == ReadFailure::None) return;
        if (m_readFailure != ReadFailure::Replaced || attempt == 2) break;
        // Another file took its place: once more, with the status read again,
        // so that the attributes and the content describe one file.
        ReadEntityState(path, true);
        if (m_vanished) return;
    }
    m_contentIncomplete = true;
    if (m_readFailure != ReadFailure::Reported)
        KvoCore::LogWarning(wxString::Format("Content of %s not read to the end (%s): no digest this scan", path,
                                             m_readFailureReason));
}

bool CFileIntegrityScanThread::TakeHashedAhead(const wxString& key, const HashRequest& request) {
    if (!m_hashAheadAllowed || S_ISLNK(m_status.st_mode)) return false;
    if (m_hashAhead && !m_hashAhead->Request().Covers(request)) {
        // Sets that want more kinds than the helper makes: it starts over making them all.
        HashRequest wider = m_hashAhead->Request();
        wider.Add(request);
        StopHashAhead();
        m_hashAhead.reset(new CContentHashAhead(wider, s_HashAheadDepth, m_ioPriorityIdle, s_HashAheadWorkers));
    }
    if (!m_hashAhead) m_hashAhead.reset(new CContentHashAhead(request, s_HashAheadDepth, m_ioPriorityIdle, s_HashAheadWorkers));
    HashAheadOf(key);
    CContentHashAhead::Digests digests;
    if (!m_hashAhead->Take(key, m_status, request, digests)) return false;
    if (request.md5) m_md5 = std::move(digests.md5);
    if (request.sha1) m_sha1 = std::move(digests.sha1);
    if (request.sha256) m_sha256 = std::move(digests.sha256);
    m_contentSize = digests.size;
    m_contentIncomplete = false;
    return true;
}

void CFileIntegrityScanThread::HashAheadOf(const wxString& key) {
    if (!m_hashAhead->WantsMore()) return;
    const wxString& last = m_hashAhead->LastKey();
    wxSQLite3Statement& query = *m_nextKeysStmt;
    query.Bind(1, static_cast<wxLongLong>(GetHighestEntityIdAtStartOfScan()));
    query.Bind(2, last.empty() || last < key ? key : last);
    query.Bind(3, GetEntityType());
    query.Bind(4, static_cast<int>(m_hashAhead->Room()));
    {
        wxSQLite3ResultSet rows = query.ExecuteQuery();
        while (rows.NextRow()) {
            const wxString next = rows.GetString(0);
            m_hashAhead->Add(next, std::string(FileSystemPath(next).fn_str()));
        }
    }
    query.Reset();
    query.ClearBindings();
}

void CFileIntegrityScanThread::LoadPreviousSize(const wxString& key) {
    wxSQLite3Statement& query = *m_previousSizeStmt;
    query.Bind(1, static_cast<wxLongLong>(GetHighestEntityIdAtStartOfScan()));
    query.Bind(2, GetEntityType());
    query.Bind(3, key);
    {
        // The result set shares the statement: it must not finalize it.
        wxSQLite3ResultSet row = query.ExecuteQuery();
        if (row.NextRow()) {
            const int column = !row.IsNull(1) ? 1 : !row.IsNull(0) ? 0 : -1;
            if (column >= 0) row.GetAsString(column).ToLongLong(&m_previousSize);
        }
    }
    query.Reset();
    query.ClearBindings();
}

void CFileIntegrityScanThread::RecordAttribute(const wxString&, const wxString& name,
                                               const KvoCore::Int64Set& entityIds) {
    const AttributeNames& n = Names();
    const wxString none;
    if (name == n.size) {
        WriteAttribute(name, KvoCore::toDecimalString(m_size), none, entityIds, none);
    } else if (name == n.md5 || name == n.sha1 || name == n.sha256) {
        const std::string& digest = name == n.md5 ? m_md5 : name == n.sha1 ? m_sha1 : m_sha256;
        // A digest that a failed read left unknown is recorded empty, so that
        // the first whole read completes this version rather than changing it.
        if (!digest.empty())
            WriteAttribute(name, KvoCore::toHexString(digest.data(), digest.size()), none, entityIds, none);
        else if (m_contentIncomplete && (name != n.md5 || !CSystemIntegrityThread::IsFipsModeEnabled()))
            WriteAttribute(name, none, none, entityIds, none);
    } else if (name == n.blocksAllocated) {
        if (m_status.st_blocks != 0)
            WriteAttribute(name, KvoCore::toDecimalString(m_status.st_blocks), none,
                           entityIds, none);
    } else if (name == n.growing) {
        WriteTrend(name, m_previousSize == -1 || m_previousSize <= m_size, entityIds);
    } else if (name == n.shrinking) {
        WriteTrend(name, m_previousSize == -1 || m_size <= m_previousSize, entityIds);
    } else {
        RecordDirectoryAttribute(name, entityIds);
    }
}

void CFileIntegrityScanThread::WriteTrend(const wxString& name, bool verdict, const KvoCore::Int64Set& entityIds) {
    WriteAttribute(name, KvoCore::toString(verdict), wxString(), entityIds, KvoCore::toDecimalString(m_size));
}

void CFileIntegrityScanThread::OnEntityUnchanged(const CSqlEntity&, const CSqlEntity& previous) {
    // The older row stays the current version (the new one is dropped), so it
    // is the one that must carry the newest size for the next comparison.
    if (m_previousSize == -1 || m_previousSize == m_size) return;
    const AttributeNames& n = Names();
    UpdateInternalValue(previous.m_entityId, TrimAttributeName(n.growing));
    UpdateInternalValue(previous.m_entityId, TrimAttributeName(n.shrinking));
}

void CFileIntegrityScanThread::UpdateInternalValue(long long entityId, const wxString& name) {
    wxSQLite3Statement& update = *m_updateInternalValueStmt;
    update.Bind(1, KvoCore::toDecimalString(m_size));
    update.Bind(2, static_cast<wxLongLong>(entityId));
    update.Bind(3, name);
    update.ExecuteUpdate();
    update.Reset();
    update.ClearBindings();
}

}  // namespace KvoPluginIm
