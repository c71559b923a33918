// CDirectoryIntegrityScanThread: identity, attribute gathering and recording.
#include "plugins/im/SystemIntegrityFileScannerThreadDirectory.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/Log.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

CDirectoryIntegrityScanThread::AttributeNames::AttributeNames() {
    const CSqlFileEntitySet s;
    permissions = s.GetAttributeName(&s.m_monitorPermissions);
    created = s.GetAttributeName(&s.m_monitorCreated);
    lastModified = s.GetAttributeName(&s.m_monitorLastModified);
    lastAccessed = s.GetAttributeName(&s.m_monitorLastAccessed);
    owner = s.GetAttributeName(&s.m_monitorOwner);
    group = s.GetAttributeName(&s.m_monitorGroup);
    symLinkPath = s.GetAttributeName(&s.m_monitorSymLinkPath);
    inodeNumber = s.GetAttributeName(&s.m_monitorInodeNumber);
    inodeGenerationNumber = s.GetAttributeName(&s.m_monitorInodeGenerationNumber);
    deviceNumber = s.GetAttributeName(&s.m_monitorDeviceNumber);
    size = s.GetAttributeName(&s.m_monitorSize);
    sha1 = s.GetAttributeName(&s.m_monitorSha1);
    sha256 = s.GetAttributeName(&s.m_monitorSha256);
    md5 = s.GetAttributeName(&s.m_monitorMd5);
    blocksAllocated = s.GetAttributeName(&s.m_monitorBlocksAllocated);
    growing = s.GetAttributeName(&s.m_monitorGrowing);
    shrinking = s.GetAttributeName(&s.m_monitorShrinking);
}

const CDirectoryIntegrityScanThread::AttributeNames& CDirectoryIntegrityScanThread::Names() {
    // Built once: the records' name lookup is too slow for every attribute of every file.
    static const AttributeNames names;
    return names;
}

CDirectoryIntegrityScanThread::CDirectoryIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CIntegrityScanThread(dom, subscan), m_matcher(GetPathFormat(dom)) {
    std::memset(&m_status, 0, sizeof m_status);
}

CDirectoryIntegrityScanThread::~CDirectoryIntegrityScanThread() = default;

wxString CDirectoryIntegrityScanThread::GetThreadName() const { return wxT("CDirectoryIntegrityScanThread"); }

CSqlEntitySet* CDirectoryIntegrityScanThread::CreateEntitySetObject() const { return new CSqlDirectoryEntitySet(); }

KvoCore::XMLObjectList* CDirectoryIntegrityScanThread::CreateEntitySetCollection() const {
    return new CSqlDirectoryEntitySets();
}

const char* CDirectoryIntegrityScanThread::GetTraceMask() const { return Keys::kTraceScannerDir; }

bool CDirectoryIntegrityScanThread::FeaturesRequireFileOpen(const CSqlIncludeExcludeFeatures&) const { return false; }

void CDirectoryIntegrityScanThread::ClearEntityAttributeData() {
    m_created = m_lastAccessed = m_lastModified = m_size = 0;
    m_statusRead = false;
    m_vanished = false;
    std::memset(&m_status, 0, sizeof m_status);
    m_owner.clear();
    m_ownerFriendly.clear();
    m_group.clear();
    m_groupFriendly.clear();
    m_permissions.clear();
    m_permissionsFriendly.clear();
    m_symlinkPath.clear();
    CIntegrityScanThread::ClearEntityAttributeData();
}

void CDirectoryIntegrityScanThread::AddDirectoryAttributesOfInterest(const CSqlDirectoryEntitySet& set,
                                                                    long long entityId) {
    const AttributeNames& n = Names();
    const std::pair<bool, const wxString*> wanted[] = {
        {set.m_monitorPermissions, &n.permissions},
        {set.m_monitorCreated, &n.created},
        {set.m_monitorLastModified, &n.lastModified},
        {set.m_monitorLastAccessed, &n.lastAccessed},
        {set.m_monitorOwner, &n.owner},
        {set.m_monitorGroup, &n.group},
        {set.m_monitorSymLinkPath, &n.symLinkPath},
        {set.m_monitorInodeNumber, &n.inodeNumber},
        {set.m_monitorInodeGenerationNumber, &n.inodeGenerationNumber},
        {set.m_monitorDeviceNumber, &n.deviceNumber},
    };
    for (const auto& w : wanted)
        if (w.first) KvoCore::AddToMapSet(m_attributesOfInterest, *w.second, entityId);
}

void CDirectoryIntegrityScanThread::ReadEntityState(const wxString& path, bool wantStatus) {
    const AttributeNames& n = Names();
    const bool wantSecurity = Wants(n.permissions) || Wants(n.owner) || Wants(n.group);
    // The birth time needs statx, which not every file system answers in full:
    // asked for only when a set wants it.
    if (wantStatus || wantSecurity) {
        m_statusRead = KvoCore::GetFileTimestamps(path, &m_lastAccessed, &m_lastModified,
                                                  Wants(n.created) ? &m_created : nullptr, &m_size, &m_status);
        m_vanished = !m_statusRead && (errno == ENOENT || errno == ENOTDIR);
    }
    // Owner, group and permissions come from the same lstat.
    if (wantSecurity && m_statusRead)
        Dom().FileSecurityInfoFromStatus(m_status, m_owner, m_ownerFriendly, m_group, m_groupFriendly,
                                         m_permissions, m_permissionsFriendly);
    if (Wants(n.symLinkPath)) GetSymlinkPath(path);
}

void CDirectoryIntegrityScanThread::GatherAttributes(const wxString& key, EntityInfoList& entities) {
    KVO_SCANNER_TRACE("Gathering attributes for %s '%s' which appears in %u entity sets", GetEntityType(), key,
                      static_cast<unsigned>(entities.size()));
    m_attributesOfInterest.clear();
    // Never cut short by a stop: a version with only some of its attributes
    // would be committed as a change, and reported again as one by the next scan.
    for (const auto& info : entities) {
        AddDirectoryAttributesOfInterest(*static_cast<const CSqlDirectoryEntitySet*>(info->m_entitySet),
                                         info->m_entity.m_entityId);
    }
    ClearEntityAttributeData();
    // The status is read whatever the sets want: it tells a directory that vanished since matching.
    ReadEntityState(key, true);
    if (m_vanished) {
        DropVanishedEntities(key, entities);
        return;
    }
    GatherAttributesOfEntity(key, m_attributesOfInterest);
}

void CDirectoryIntegrityScanThread::RecordAttribute(const wxString&, const wxString& attributeName,
                                                    const KvoCore::Int64Set& entityIds) {
    RecordDirectoryAttribute(attributeName, entityIds);
}

bool CDirectoryIntegrityScanThread::RecordDirectoryAttribute(const wxString& name,
                                                             const KvoCore::Int64Set& entityIds) {
    const AttributeNames& n = Names();
    const wxString none;
    auto writeNumber = [&](long long value) {
        if (value != 0) WriteAttribute(name, KvoCore::toDecimalString(value), none, entityIds, none);
    };
    auto writeText = [&](const wxString& value, const wxString& friendly) {
        if (!value.empty()) WriteAttribute(name, value, friendly, entityIds, none);
    };
    if (name == n.created) writeNumber(m_created);
    else if (name == n.lastAccessed) writeNumber(m_lastAccessed);
    else if (name == n.lastModified) writeNumber(m_lastModified);
    else if (name == n.owner) writeText(m_owner, m_ownerFriendly);
    else if (name == n.group) writeText(m_group, m_groupFriendly);
    else if (name == n.permissions) writeText(m_permissions, m_permissionsFriendly);
    else if (name == n.symLinkPath) writeText(m_symlinkPath, none);
    else if (name == n.inodeNumber) writeNumber(static_cast<long long>(m_status.st_ino));
    else if (name == n.deviceNumber) writeNumber(static_cast<long long>(m_status.st_dev));
    else if (name == n.inodeGenerationNumber) {
        // No datum on this platform.
    } else
        return false;
    return true;
}

void CDirectoryIntegrityScanThread::GetSymlinkPath(const wxString& key) {
    m_symlinkPath.clear();
    if (!S_ISLNK(m_status.st_mode)) return;
    char target[4096];
    const ssize_t length = readlink(key.fn_str(), target, sizeof target);
    if (length < 0) {
        const int error = errno;
        KvoCore::LogError(wxString::Format("wx.sys_error: readlink(%s) (error %d: %s)", key, error, strerror(error)));
        return;
    }
    m_symlinkPath = wxString(target, wxConvLibc, static_cast<size_t>(length));
    // The agent runs in the C locale: a target that is not ASCII converts as file names do.
    if (m_symlinkPath.empty()) m_symlinkPath = wxString(target, *wxConvFileName, static_cast<size_t>(length));
}

}  // namespace KvoPluginIm
