#include "plugins/im/EventOutbox.h"

#include <wx/wxsqlite3.h>

#include <mutex>
#include <set>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"

namespace KvoPluginIm {
namespace {

const char* const kCreate =
    "CREATE TABLE IF NOT EXISTS [EventOutbox] ([outboxId] INTEGER PRIMARY KEY AUTOINCREMENT, "
    "[channel] INTEGER NOT NULL, [timeSeconds] INTEGER NOT NULL, [text] BLOB NOT NULL);";
const int kBatch = 500;

// The outbox is one table for every scanner of the process.
std::mutex s_flushMutex;

struct Entry {
    long long id;
    int channel;
    long long timeSeconds;
    std::string text;
};

std::vector<Entry> LoadBatch(KvoCore::CSqliteDatabase& db, long long after) {
    std::vector<Entry> entries;
    wxSQLite3ResultSet rows = db.ExecuteQuery(wxString::Format(
        "SELECT [outboxId],[channel],[timeSeconds],[text] FROM [EventOutbox] WHERE [outboxId]>%lld "
        "ORDER BY [outboxId] LIMIT %d;",
        after, kBatch));
    while (rows.NextRow()) {
        wxMemoryBuffer text;
        rows.GetBlob(3, text);
        entries.push_back({rows.GetInt64(0).GetValue(), rows.GetInt(1), rows.GetInt64(2).GetValue(),
                           std::string(static_cast<const char*>(text.GetData()), text.GetDataLen())});
    }
    return entries;
}

}  // namespace

CEventOutbox::CEventOutbox(KvoCore::CSqliteDatabase& db) : m_db(db) {
    m_db.ExecuteUpdate(kCreate);
    m_insert.reset(new wxSQLite3Statement(m_db.PrepareStatement(
        "INSERT INTO [EventOutbox] ([channel],[timeSeconds],[text]) VALUES (?1,?2,?3);")));
}

CEventOutbox::~CEventOutbox() = default;

void CEventOutbox::Put(int channel, long long timeSeconds, const std::string& text) {
    struct Release {
        wxSQLite3Statement& statement;
        ~Release() {
            statement.Reset();
            statement.ClearBindings();
        }
    } release{*m_insert};
    m_insert->Bind(1, channel);
    m_insert->Bind(2, static_cast<wxLongLong>(timeSeconds));
    m_insert->Bind(3, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    m_insert->ExecuteUpdate();
    m_pending = true;
}

void CEventOutbox::Flush(const Sender& send) {
    if (!m_pending || !m_db.GetAutoCommit()) return;
    std::lock_guard<std::mutex> lock(s_flushMutex);
    std::set<int> failedChannels;
    long long after = 0;
    try {
        for (;;) {
            const std::vector<Entry> entries = LoadBatch(m_db, after);
            if (entries.empty()) break;
            wxString sent;
            for (const Entry& entry : entries) {
                after = entry.id;
                // Later entries of a channel wait behind one that failed, so its order holds.
                if (failedChannels.count(entry.channel) != 0) continue;
                if (!send(entry.channel, entry.timeSeconds, entry.text)) {
                    failedChannels.insert(entry.channel);
                    continue;
                }
                sent << (sent.empty() ? "" : ",") << entry.id;
            }
            if (!sent.empty())
                m_db.ExecuteUpdate(wxString::Format("DELETE FROM [EventOutbox] WHERE [outboxId] IN (%s);", sent));
        }
        m_pending = !failedChannels.empty();
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Integrity events wait in %s to be sent: %s", m_db.GetPath(),
                                           e.GetMessage()));
    }
}

}  // namespace KvoPluginIm
