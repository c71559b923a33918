// CSqliteDatabase: one connection to an integrity database file.
//
// Open() creates a new file with mode 0600 and the whole integrity schema,
// sets the journal and sync modes and a busy timeout, so that the control
// thread, the scanners, the real-time object and the queries share the file
// without failing on a lock. Every connection offers the aggregate SQL function
// HASH(value, method) (md5, sha1, sha256). A connection belongs to one thread.
#pragma once

#include <memory>

#include <wx/string.h>
#include <wx/wxsqlite3.h>

namespace KvoCore {

class CDom;
class CHashAggregate;

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
    void Close();
    bool IsOpenDb() const { return IsOpen(); }
    const wxString& GetPath() const { return m_path; }

    // Attaches another database file under a schema name (":memory:" allowed).
    void AttachDatabase(const wxString& file, const wxString& schema);
    void DetachDatabase(const wxString& schema);
    // Creates table in schema toSchema with the layout it has in fromSchema.
    void CloneTableSchema(const wxString& fromSchema, const wxString& toSchema, const wxString& table);
    long long GetFreePageCount();
    // Traces SQLite's memory figures under category.
    void DumpMemoryStats(const char* category);

    // Statements that create the integrity schema (tables, views, indexes,
    // triggers), each complete; exposed for tools and tests.
    static const wxArrayString& SchemaStatements();
    // Schema version recorded in the file (PRAGMA user_version) once created.
    static const int SchemaVersion;

private:
    bool CreateSchemaIfNeeded();

    CDom& m_dom;
    const char* m_traceCategory;
    wxString m_path;
    std::unique_ptr<CHashAggregate> m_hash;
};

}  // namespace KvoCore
