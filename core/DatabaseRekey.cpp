#include "core/DatabaseRekey.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <wx/filename.h>

#include <wx/log.h>

#include "core/SqliteDatabase.h"
#include "core/StateKeys.h"

namespace KvoCore {

namespace {

bool SyncPath(const wxString& path, int flags) {
    const int fd = ::open(path.fn_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

void RemoveWithCompanions(const wxString& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((path + suffix).fn_str());
}

bool OpenAsItIs(CSqliteDatabase& db, const wxString& path, const CDatabaseKey& key, bool create) {
    db.SetKey(key);
    db.SetCreatesSchema(false);
    return db.Open(path, 2, create ? "DELETE" : "", create, false);
}

bool Copy(CDom& dom, const wxString& path, const CDatabaseKey& from, const wxString& copy, const CDatabaseKey& to,
          wxString& error) {
    CSqliteDatabase source(dom, Keys::kTraceAgent), target(dom, Keys::kTraceAgent);
    if (!OpenAsItIs(source, path, from, false)) {
        error = source.GetOpenError();
        return false;
    }
    if (!OpenAsItIs(target, copy, to, true)) {
        error = target.GetOpenError();
        return false;
    }
    try {
        source.CopyTo(target);
    } catch (const wxSQLite3Exception& e) {
        error = wxString::Format("copying '%s': %s", path, e.GetMessage());
        return false;
    }
    target.Close();
    // The last connection's close checkpoints the log into the file and removes it.
    source.Close();
    if (wxFileName::Exists(path + "-wal") && wxFileName::GetSize(path + "-wal") > 0) {
        error = wxString::Format("the write-ahead log of '%s' could not be folded into it", path);
        return false;
    }
    return true;
}

}  // namespace

bool CDatabaseRekey::Rewrite(CDom& dom, const wxString& path, const CDatabaseKey& from, const CDatabaseKey& to,
                             wxString& error) {
    const wxString copy = path + ".rekey";
    RemoveWithCompanions(copy);  // left by a crash in an earlier attempt
    if (!Copy(dom, path, from, copy, to, error)) {
        RemoveWithCompanions(copy);
        return false;
    }
    ::unlink((path + "-wal").fn_str());
    ::unlink((path + "-shm").fn_str());
    if (!SyncPath(copy, O_RDONLY) || ::rename(copy.fn_str(), path.fn_str()) != 0) {
        error = wxString::Format("replacing '%s': %s", path, wxSysErrorMsgStr(errno));
        RemoveWithCompanions(copy);
        return false;
    }
    SyncPath(wxFileName(path).GetPath().empty() ? wxString(".") : wxFileName(path).GetPath(), O_RDONLY | O_DIRECTORY);
    return true;
}

bool CDatabaseRekey::IsPlain(const wxString& path) {
    static const char kHeader[16] = "SQLite format 3";
    char head[16];
    const int fd = ::open(path.fn_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool plain = ::read(fd, head, sizeof head) == sizeof head && std::memcmp(head, kHeader, 16) == 0;
    ::close(fd);
    return plain;
}

bool CDatabaseRekey::Opens(CDom& dom, const wxString& path, const CDatabaseKey& key) {
    CSqliteDatabase db(dom, Keys::kTraceAgent);
    db.SetKey(key);
    db.SetCreatesSchema(false);
    return db.Open(path, 1, "", false, true);
}

}  // namespace KvoCore
