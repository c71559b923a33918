#include "plugins/im/DecryptDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <wx/wxsqlite3.h>

#include "core/DatabaseKey.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

namespace {

bool Exists(const wxString& path) {
    struct stat status;
    return ::lstat(path.fn_str(), &status) == 0;
}

// The copy, its journal and its log, when this call made it.
void RemoveTarget(const wxString& target) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((target + suffix).fn_str());
}

// Throws wxSQLite3Exception.
wxString CopyPlain(KvoCore::CDom& dom, const wxString& keyText, const wxString& source,
                   const wxString& target) {
    KvoCore::CSqliteDatabase db(dom, Keys::kTraceImThread);
    db.SetKey(KvoCore::CDatabaseKey::FromKeyText(keyText));
    // Copied as it is, never given the schema of this version; and a
    // mistyped source path must not become a new empty database.
    db.SetCreatesSchema(false);
    if (!db.Open(source, 1, wxString(), false, false)) throw wxSQLite3Exception(WXSQLITE_ERROR, db.GetOpenError());
    wxSQLite3ResultSet rows = db.ExecuteQuery("SELECT COUNT(*) From Entitys;");
    const wxString count = rows.NextRow() ? rows.GetAsString(0) : wxString();
    rows.Finalize();
    wxSQLite3Database copy;
    copy.Open(target, wxString(), WXSQLITE_OPEN_READWRITE | WXSQLITE_OPEN_CREATE);
    db.Backup(target, wxString(), "main");
    copy.Close();
    db.Close();
    return count;
}

}  // namespace

bool DecryptDatabase(KvoCore::CDom& dom, const wxString& keyText, const wxString& source,
                     const wxString& target, wxString& entityCount) {
    KVO_TRACE(Keys::kTraceImThread, "im-plugin::DecryptDatabase - DecryptDatabase entered.");
    const bool targetExisted = Exists(target);
    try {
        entityCount = CopyPlain(dom, keyText, source, target);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("im-plugin::DecryptDatabase error: %s", e.GetMessage()));
        KvoCore::LogError("im-plugin::decryptDatabase_l - DecryptDatabase returned unsuccessfully.");
        if (!targetExisted) RemoveTarget(target);
        return false;
    }
    KVO_TRACE(Keys::kTraceImThread, "im-plugin::decryptDatabase_l - DecryptDatabase returned successfully with %s entities.",
              entityCount);
    return true;
}

}  // namespace KvoPluginIm
