#include "core/SqliteDatabase.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <sqlite3.h>

#include <wx/log.h>

#include "core/CipherVfs.h"
#include "core/HashAggregate.h"
#include "core/Dom.h"
#include "core/Log.h"
#include "core/PageCipher.h"
#include "core/SqliteTransaction.h"
#include "core/StateKeys.h"

namespace KvoCore {

namespace {

// Long enough for a scanner's largest batch commit or a purge to finish while
// another thread waits to write; a shorter wait turns load into lost writes.
const int kBusyTimeoutMs = 60000;

// SQLite counts every allocation under one process-wide mutex, which every
// thread's connection then takes on each row; only the memory trace reads
// those counts. Settable only before SQLite's first use, so decided once.
bool CountsSqliteMemory() {
    static const bool counts = LogTraceIsEnabled(Keys::kTraceMemory) ||
                               sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) != SQLITE_OK;
    return counts;
}

bool IsMemoryName(const wxString& path) { return path.empty() || path == ":memory:"; }

enum class CreateResult { Created, Exists, Failed };

// SQLite would create a missing file with the process umask (usually 0644)
// and gives its -wal and -shm files the mode of the database file, so the
// file is made here, private, before SQLite sees it.
CreateResult CreatePrivateFile(const wxString& path, wxString& reason) {
    const int fd = ::open(path.fn_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return CreateResult::Created;
    }
    const int error = errno;
    if (error == EEXIST) return CreateResult::Exists;
    reason = wxString::Format("cannot create the file: %s", wxSysErrorMsgStr(error));
    return CreateResult::Failed;
}

void RemoveCreatedFiles(const wxString& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).fn_str());
}

// A schema name as an SQL identifier, whatever characters it holds.
wxString QuoteName(const wxString& name) {
    wxString quoted = name;
    quoted.Replace("\"", "\"\"");
    return "\"" + quoted + "\"";
}

bool IsJournalMode(const wxString& mode) {
    static const char* const kModes[] = {"DELETE", "TRUNCATE", "PERSIST", "MEMORY", "WAL", "OFF"};
    for (const char* known : kModes)
        if (mode.IsSameAs(known, false)) return true;
    return false;
}

// Leaving rollback mode upgrades a read of the header to the write lock, and
// SQLite answers BUSY at once rather than wait there: two connections opening
// the same new file would otherwise fail on each other. Waits as long as the
// busy timeout would.
wxString SwitchJournalMode(wxSQLite3Database& db, const wxString& mode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    const wxString sql = wxString::Format("PRAGMA journal_mode=%s", mode.Upper());
    for (;;) {
        try {
            wxSQLite3ResultSet rs = db.ExecuteQuery(sql);
            return rs.NextRow() ? rs.GetString(0) : wxString();
        } catch (const wxSQLite3Exception& e) {
            if ((e.GetErrorCode() & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// wxSQLite3 writes "<text>[<code>]: <text>"; the text once is enough for a log line.
wxString ReasonOf(const wxSQLite3Exception& e) {
    const wxString message = e.GetMessage();
    const size_t at = message.find("]: ");
    return at == wxString::npos ? message : message.Mid(at + 3);
}

// Length of the table name that starts text (bracketed, quoted or bare), 0 if none.
size_t NameTokenLength(const wxString& text) {
    if (text.empty()) return 0;
    const wxChar first = text[0];
    if (first == '[') {
        const size_t end = text.find(']');
        return end == wxString::npos ? 0 : end + 1;
    }
    if (first == '"' || first == '`') {
        // A doubled quote inside the name stands for one.
        for (size_t i = 1; i < text.length(); ++i) {
            if (text[i] != first) continue;
            if (i + 1 < text.length() && text[i + 1] == first) {
                ++i;
                continue;
            }
            return i + 1;
        }
        return 0;
    }
    size_t i = 0;
    while (i < text.length() && (wxIsalnum(text[i]) || text[i] == '_' || text[i] == '$' || text[i] > 127)) ++i;
    return i;
}

// SQLite's own hook checkpoints after every commit once the log holds 1,000
// frames. While another connection reads an older snapshot the log cannot be
// rewound, so it stays that long, and every commit paid a checkpoint with two
// fdatasync calls (two scanners side by side hold such snapshots nearly all
// the time). Here a connection tries again only once the log has grown by as
// much again.
const int kCheckpointFrames = 1000;

int PacedCheckpoint(void* context, sqlite3* db, const char* schema, int frames) {
    if (frames < kCheckpointFrames) return SQLITE_OK;
    // Only the main file is paced; an attached one keeps SQLite's own rule.
    if (strcmp(schema, "main") == 0) {
        int& triedAt = *static_cast<int*>(context);
        // A rewound log counts from zero again.
        if (frames < triedAt) triedAt = 0;
        if (triedAt != 0 && frames - triedAt < kCheckpointFrames) return SQLITE_OK;
        triedAt = frames;
    }
    // A checkpoint that cannot finish is no error of the commit that called it.
    sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

}  // namespace

CSqliteDatabase::CSqliteDatabase(CDom& dom, const char* traceCategory)
    : m_dom(dom), m_traceCategory(traceCategory) {}

CSqliteDatabase::~CSqliteDatabase() {
    // Closed here, while the HASH aggregate registered on the connection still exists.
    Close();
}

bool CSqliteDatabase::Open(const wxString& path, int syncMode, const wxString& journalMode, bool create,
                           bool readOnly) {
    if (IsOpen()) return true;
    CountsSqliteMemory();

    auto fail = [this, &path](const wxString& reason) {
        m_openError = wxString::Format("Cannot open database '%s': %s", path, reason);
        LogError(m_openError);
        return false;
    };
    if (syncMode < 0 || syncMode > 3) return fail(wxString::Format("invalid synchronous level %d", syncMode));
    if (!journalMode.empty() && !IsJournalMode(journalMode))
        return fail(wxString::Format("invalid journal mode '%s'", journalMode));

    // SQLite would open a private temporary file for an empty name: an unset
    // path setting must not pass for a usable database.
    if (path.empty()) return fail("no file name given");
    const bool inMemory = IsMemoryName(path);
    bool created = false;
    if (!inMemory) {
        struct stat status;
        if (::stat(path.fn_str(), &status) != 0) {
            const int error = errno;
            if (error != ENOENT) return fail(wxSysErrorMsgStr(error));
            if (!create || readOnly) return fail("the file does not exist");
            wxString reason;
            const CreateResult result = CreatePrivateFile(path, reason);
            if (result == CreateResult::Failed) return fail(reason);
            created = result == CreateResult::Created;
        } else if (S_ISDIR(status.st_mode)) {
            return fail("it is a directory");
        }
        // SQLite would only say "unable to open database file"; the system's
        // reason is clearer. Asked without opening the file: closing any
        // descriptor of it would drop the POSIX locks that this process's other
        // connections hold on it, and another process could then checkpoint
        // and remove the write-ahead log under them.
        if (!created && ::access(path.fn_str(), readOnly ? R_OK : R_OK | W_OK) != 0)
            return fail(wxSysErrorMsgStr(errno));
    }

    // The file exists by now: never let SQLite create one with its own mode.
    int flags = readOnly ? WXSQLITE_OPEN_READONLY : WXSQLITE_OPEN_READWRITE;
    if (inMemory) flags |= WXSQLITE_OPEN_CREATE;
    // A connection belongs to one thread, so SQLite's per-call connection
    // mutex guards nothing; it cost a lock and an unlock on every bind, step
    // and column read.
    flags |= WXSQLITE_OPEN_NOMUTEX;
    wxString name = path;
    if (m_key.IsSet() && !inMemory) {
        if (!m_cipher) m_cipher = std::make_shared<CPageCipher>(m_key);
        m_cipherId = CCipherVfs::Register(m_cipher, m_key.EncryptsWholeFirstPage());
        name = CCipherVfs::Uri(path, m_cipherId);
        flags |= WXSQLITE_OPEN_URI;
    }
    try {
        // Never a key to wxSQLite3: this build would ignore it and write plain text.
        wxSQLite3Database::Open(name, wxString(), flags);
        SetBusyTimeout(kBusyTimeoutMs);
        // The first read of the header: a file that is not a database fails here.
        const int version = GetUserVersion();
        if (!readOnly && !journalMode.empty()) {
            const wxString inForce = SwitchJournalMode(*this, journalMode);
            if (!inMemory && !inForce.IsSameAs(journalMode, false))
                LogWarning(wxString::Format("Database '%s': journal mode %s requested, %s in force", path,
                                            journalMode, inForce));
        }
        ExecuteUpdate(wxString::Format("PRAGMA synchronous=%d", syncMode));
        // REPLACE deletes fire the delete triggers only with this on.
        ExecuteUpdate("PRAGMA recursive_triggers=ON");
        m_checkpointTriedAt = 0;
        sqlite3_wal_hook(static_cast<sqlite3*>(GetDatabaseHandle()), &PacedCheckpoint, &m_checkpointTriedAt);
        if (!m_hash) m_hash.reset(new CHashAggregate);
        if (!CreateFunction("HASH", 2, *m_hash)) throw wxSQLite3Exception(SQLITE_ERROR, "cannot register HASH");
        if (!readOnly && m_createsSchema) {
            if (CreateSchemaIfNeeded())
                KVO_TRACE(m_traceCategory, "Created the integrity schema (version %d) in %s", SchemaVersion, path);
        } else if (m_createsSchema && version < SchemaVersion && !inMemory) {
            LogWarning(wxString::Format("Database '%s' opened read-only has schema version %d, expected %d", path,
                                        version, SchemaVersion));
        }
    } catch (const wxSQLite3Exception& e) {
        if (IsOpen()) {
            try {
                wxSQLite3Database::Close();
            } catch (const wxSQLite3Exception&) {
                // Already failing; the first reason is the one worth reporting.
            }
        }
        if (created) RemoveCreatedFiles(path);
        ForgetCipher();
        return fail(ReasonOf(e));
    }
    m_path = path;
    m_readOnly = readOnly;
    KVO_TRACE(m_traceCategory, "Opened database %s (synchronous %d, journal %s%s%s)", path, syncMode, journalMode,
              readOnly ? ", read-only" : "", m_cipherId ? ", encrypted" : "");
    return true;
}

bool CSqliteDatabase::OpenIntegrityDb(const wxString& path, DbAccess access) {
    const bool readOnly = access == DbAccess::ReadOnly;
    SetKey(m_dom.IntegrityDbKey());
    return Open(path, 1, "WAL", !readOnly, readOnly);
}

int CSqliteDatabase::GetUserVersion() {
    wxSQLite3ResultSet rs = ExecuteQuery("PRAGMA user_version");
    return rs.NextRow() ? rs.GetInt(0) : 0;
}

bool CSqliteDatabase::CreateSchemaIfNeeded() {
    if (HasCurrentSchema()) return false;
    // IMMEDIATE: two connections opening a new file at once take turns, and the
    // second one sees the version the first one wrote.
    CSqliteTransaction transaction(*this);
    const int version = GetUserVersion();
    if (version >= SchemaVersion) return false;
    // A file of an older version keeps its baseline: upgraded, never recreated.
    for (const wxString& sql : UpgradeStatements(version)) ExecuteUpdate(sql);
    for (const wxString& sql : SchemaStatements()) ExecuteUpdate(sql);
    ExecuteUpdate(wxString::Format("PRAGMA user_version=%d", SchemaVersion));
    transaction.Commit();
    return true;
}

void CSqliteDatabase::Close() {
    if (!IsOpen()) return;
    try {
        wxSQLite3Database::Close();
    } catch (const wxSQLite3Exception& e) {
        LogError(wxString::Format("Closing database '%s': %s", m_path, ReasonOf(e)));
    }
    KVO_TRACE(m_traceCategory, "Closed database %s", m_path);
    ForgetCipher();
    m_path.clear();
    m_readOnly = false;
}

void CSqliteDatabase::SetKey(const CDatabaseKey& key) {
    // Deriving a key costs thousands of digests: kept while the key stays.
    if (key.Cipher() == m_key.Cipher() && key.Passphrase() == m_key.Passphrase() &&
        key.EncryptsWholeFirstPage() == m_key.EncryptsWholeFirstPage())
        return;
    m_key = key;
    m_cipher.reset();
}

void CSqliteDatabase::ForgetCipher() {
    if (m_cipherId != 0) CCipherVfs::Unregister(m_cipherId);
    m_cipherId = 0;
}

void CSqliteDatabase::Begin(wxSQLite3TransactionType transactionType) {
    if (m_readOnly && transactionType == WXSQLITE_TRANSACTION_IMMEDIATE)
        transactionType = WXSQLITE_TRANSACTION_DEFERRED;
    wxSQLite3Database::Begin(transactionType);
}

void CSqliteDatabase::AttachDatabase(const wxString& file, const wxString& schema) {
    bool created = false;
    if (!IsMemoryName(file)) {
        wxString reason;
        const CreateResult result = CreatePrivateFile(file, reason);
        if (result == CreateResult::Failed)
            throw wxSQLite3Exception(SQLITE_CANTOPEN, wxString::Format("attach '%s': %s", file, reason));
        created = result == CreateResult::Created;
    }
    try {
        wxSQLite3Statement attach = PrepareStatement("ATTACH DATABASE ?1 AS " + QuoteName(schema));
        // A file attached to an encrypted database is encrypted with the same key.
        attach.Bind(1, m_cipherId != 0 && !IsMemoryName(file) ? CCipherVfs::Uri(file, m_cipherId) : file);
        attach.ExecuteUpdate();
    } catch (const wxSQLite3Exception&) {
        if (created) RemoveCreatedFiles(file);
        throw;
    }
    KVO_TRACE(m_traceCategory, "Attached %s as %s", file, schema);
}

void CSqliteDatabase::CopyTo(const wxString& file) {
    wxString reason;
    const CreateResult result = CreatePrivateFile(file, reason);
    if (result == CreateResult::Failed)
        throw wxSQLite3Exception(SQLITE_CANTOPEN, wxString::Format("copy to '%s': %s", file, reason));
    try {
        wxSQLite3Statement copy = PrepareStatement("VACUUM INTO ?1");
        copy.Bind(1, m_cipherId != 0 ? CCipherVfs::Uri(file, m_cipherId) : file);
        copy.ExecuteUpdate();
    } catch (const wxSQLite3Exception&) {
        if (result == CreateResult::Created) RemoveCreatedFiles(file);
        throw;
    }
}

void CSqliteDatabase::DetachDatabase(const wxString& schema) {
    ExecuteUpdate("DETACH DATABASE " + QuoteName(schema));
    KVO_TRACE(m_traceCategory, "Detached %s", schema);
}

void CSqliteDatabase::CloneTableSchema(const wxString& fromSchema, const wxString& toSchema, const wxString& table) {
    wxSQLite3Statement select =
        PrepareStatement("SELECT [sql] FROM " + QuoteName(fromSchema) + ".sqlite_master WHERE [type]='table' AND [name]=?1");
    select.Bind(1, table);
    wxSQLite3ResultSet rs = select.ExecuteQuery();
    if (!rs.NextRow())
        throw wxSQLite3Exception(SQLITE_ERROR, wxString::Format("no table '%s' in schema '%s'", table, fromSchema));
    const wxString sql = rs.GetString(0);
    rs.Finalize();

    // SQLite keeps the text normalised: "CREATE TABLE " then the unqualified
    // name as written, with IF NOT EXISTS dropped.
    const wxString prefix = "CREATE TABLE ";
    if (!sql.Upper().StartsWith(prefix))
        throw wxSQLite3Exception(SQLITE_ERROR, wxString::Format("unexpected definition of '%s': %s", table, sql));
    const wxString rest = sql.Mid(prefix.length());
    const size_t nameLength = NameTokenLength(rest);
    if (nameLength == 0)
        throw wxSQLite3Exception(SQLITE_ERROR, wxString::Format("unexpected definition of '%s': %s", table, sql));
    ExecuteUpdate("CREATE TABLE IF NOT EXISTS " + QuoteName(toSchema) + "." + rest);
    KVO_TRACE(m_traceCategory, "Cloned table %s from %s into %s", table, fromSchema, toSchema);
}

bool CSqliteDatabase::IsDiskFull(const wxSQLite3Exception& e) { return (e.GetErrorCode() & 0xff) == SQLITE_FULL; }

void CSqliteDatabase::CopyTo(CSqliteDatabase& target) {
    auto* to = static_cast<sqlite3*>(target.GetDatabaseHandle());
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", static_cast<sqlite3*>(GetDatabaseHandle()), "main");
    if (backup == nullptr) throw wxSQLite3Exception(sqlite3_errcode(to), wxString::FromUTF8(sqlite3_errmsg(to)));
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    const int rc = stepped == SQLITE_DONE ? finished : stepped;
    if (rc != SQLITE_OK) throw wxSQLite3Exception(rc, wxString::FromUTF8(sqlite3_errstr(rc)));
}

long long CSqliteDatabase::GetFreePageCount() {
    wxSQLite3ResultSet rs = ExecuteQuery("PRAGMA freelist_count");
    return rs.NextRow() ? rs.GetInt64(0).GetValue() : 0;
}

void CSqliteDatabase::DumpMemoryStats(const char* category) {
    if (!LogTraceIsEnabled(category)) return;
    // Without counts SQLite would say 0 bytes; the connection's own figures still hold.
    const wxString process = CountsSqliteMemory()
                                 ? wxString::Format("SQLite memory: %lld bytes in use, highest %lld",
                                                    static_cast<long long>(sqlite3_memory_used()),
                                                    static_cast<long long>(sqlite3_memory_highwater(0)))
                                 : wxString("SQLite memory: not counted (trace kvo.core.memory from the start)");
    if (!IsOpen()) {
        KVO_TRACE(category, "%s", process);
        return;
    }
    auto* db = static_cast<sqlite3*>(GetDatabaseHandle());
    int cacheUsed = 0, cacheHit = 0, cacheMiss = 0, cacheWrite = 0, highest = 0;
    sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_USED, &cacheUsed, &highest, 0);
    sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_HIT, &cacheHit, &highest, 0);
    sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_MISS, &cacheMiss, &highest, 0);
    sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_WRITE, &cacheWrite, &highest, 0);
    KVO_TRACE(category, "%s; %s: page cache %d bytes, %d hits, %d misses, %d writes", process, m_path, cacheUsed,
              cacheHit, cacheMiss, cacheWrite);
}

// Text with a NUL or beyond ASCII takes wxSQLite3's way, which ends at the NUL.
void BindText(wxSQLite3Statement& statement, int index, const wxString& text) {
    char narrow[256];
    const size_t n = text.length();
    if (n < sizeof narrow) {
        const wchar_t* wide = text.wc_str();
        size_t i = 0;
        for (; i < n && wide[i] != 0 && static_cast<unsigned long>(wide[i]) < 0x80; ++i)
            narrow[i] = static_cast<char>(wide[i]);
        if (i == n) {
            narrow[n] = '\0';
            statement.Bind(index, static_cast<const char*>(narrow));
            return;
        }
    }
    statement.Bind(index, text);
}

}  // namespace KvoCore
