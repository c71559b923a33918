// CSqliteDatabase: one connection to an integrity database file.
//
// Open() creates a new file with mode 0600 and the whole integrity schema,
// sets the journal and sync modes and a busy timeout, so that the control
// thread, the scanners, the real-time object and the queries share the file
// without failing on a lock. With a key (SetKey) the file, its journal, its
// write-ahead log, its temporary files and any file attached to it are
// encrypted (CCipherVfs). Every connection offers the aggregate SQL function
// HASH(value, method) (md5, sha1, sha256). A connection belongs to one thread:
// it is opened without SQLite's connection mutex, so two threads must never
// use it at once.
//
// Write transactions: Begin() here starts an IMMEDIATE transaction (DEFERRED
// on a read-only connection). In WAL mode a deferred transaction that reads
// and then writes fails with "database is locked" at once, without waiting,
// whenever another connection committed in between; taking the write lock at
// BEGIN makes it wait for the busy timeout instead. Statements and the
// methods below that return nothing report SQL errors by throwing
// wxSQLite3Exception, as the base does.
#pragma once

#include <memory>

#include <wx/arrstr.h>
#include <wx/string.h>
#include <wx/wxsqlite3.h>

#include "core/DatabaseKey.h"

namespace KvoCore {

class CDom;
class CHashAggregate;
class CPageCipher;

// How a connection uses the integrity database.
enum class DbAccess {
    ReadWrite,  // creates the file and its schema when missing
    ReadOnly,   // never creates the file, never writes it
};

class CSqliteDatabase : public wxSQLite3Database {
public:
    CSqliteDatabase(CDom& dom, const char* traceCategory);
    ~CSqliteDatabase() override;

    // Opens (and, when create is set, creates) the file. syncMode is SQLite's
    // synchronous level (0..3), journalMode a journal mode name ("WAL").
    // readOnly opens without write access. Errors are logged with the file
    // name and the reason; the result tells whether the connection is open.
    bool Open(const wxString& path, int syncMode, const wxString& journalMode, bool create = true,
              bool readOnly = false);
    // The one way every thread of the plug-in and the host open the integrity
    // database, so that all of them share its journal and sync modes and the
    // agent's key (CDom::IntegrityDbKey).
    bool OpenIntegrityDb(const wxString& path, DbAccess access);
    // The key the next Open uses; a key that does not fit the file fails the
    // open with "file is not a database" and changes nothing on disk.
    void SetKey(const CDatabaseKey& key);
    bool IsEncrypted() const { return m_cipherId != 0; }
    // Whether Open adds the integrity schema to a file that lacks it (default);
    // off to open some other database as it is.
    void SetCreatesSchema(bool creates) { m_createsSchema = creates; }
    // Closes if open; an error while closing is logged, not thrown.
    void Close();
    bool IsOpenDb() const { return IsOpen(); }
    // Whether the open file holds the integrity schema of this version. Throws wxSQLite3Exception.
    bool HasCurrentSchema() { return GetUserVersion() >= SchemaVersion; }
    bool IsReadOnlyDb() const { return m_readOnly; }
    // Hides the base's Begin, whose default is DEFERRED (see above).
    void Begin(wxSQLite3TransactionType transactionType = WXSQLITE_TRANSACTION_IMMEDIATE);
    const wxString& GetPath() const { return m_path; }
    // Why the last Open failed, as it was logged.
    const wxString& GetOpenError() const { return m_openError; }

    // Attaches another database file under a schema name (":memory:" allowed);
    // a missing file is created with mode 0600.
    void AttachDatabase(const wxString& file, const wxString& schema);
    void DetachDatabase(const wxString& schema);
    // Writes a compacted copy of the main database to file, a new file
    // (mode 0600); an encrypted database's copy is encrypted with its key.
    void CopyTo(const wxString& file);
    // Creates table in schema toSchema (unless it exists there) with the layout,
    // AUTOINCREMENT included, it has in fromSchema. Indexes are not copied.
    void CloneTableSchema(const wxString& fromSchema, const wxString& toSchema, const wxString& table);
    long long GetFreePageCount();
    // Copies the whole main database into target's, page by page (SQLite's
    // backup), each side through its own key. Throws wxSQLite3Exception.
    void CopyTo(CSqliteDatabase& target);
    // Traces SQLite's memory figures under category.
    void DumpMemoryStats(const char* category);

    // Statements that create the integrity schema (tables, views, indexes,
    // triggers), each complete; exposed for tools and tests.
    // The error was a write that found the file system (or the file's size limit) full.
    static bool IsDiskFull(const wxSQLite3Exception& e);
    static const wxArrayString& SchemaStatements();
    // Statements that bring a file of an older schema version to the current
    // one, keeping its rows; run before SchemaStatements(), which add what is new.
    static wxArrayString UpgradeStatements(int fromVersion);
    // Schema version recorded in the file (PRAGMA user_version) once created.
    static const int SchemaVersion;

private:
    // Throws wxSQLite3Exception; true when this call created the schema.
    bool CreateSchemaIfNeeded();
    int GetUserVersion();
    void ForgetCipher();

    CDom& m_dom;
    const char* m_traceCategory;
    wxString m_path;
    bool m_readOnly = false;
    bool m_createsSchema = true;
    wxString m_openError;
    CDatabaseKey m_key;
    unsigned m_cipherId = 0;  // registered with CCipherVfs while open
    std::shared_ptr<const CPageCipher> m_cipher;
    std::unique_ptr<CHashAggregate> m_hash;
    int m_checkpointTriedAt = 0;  // log frames at this connection's last checkpoint
};

// Binds text as UTF-8, in one pass when it is short ASCII (nearly every key
// and value); wxSQLite3's own bind measures each text before converting it.
void BindText(wxSQLite3Statement& statement, int index, const wxString& text);

}  // namespace KvoCore
