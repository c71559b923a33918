// CEventOutbox: integrity events on their way out of the agent.
//
// A scanner puts each event's JSON document and syslog line here, in the
// transaction that records the versions the event describes, and sends them
// once that transaction has committed. So a rolled-back batch sends nothing,
// a retried batch sends each event once, and an event whose versions were
// committed just before a crash is sent, unchanged, by the next scanner that
// opens the database: delivery is at least once, and a repeat is the same text.
//
// One outbox object per connection; Flush is serialised across the process,
// so two scanners never send the same entry at once.
#pragma once

#include <functional>
#include <memory>
#include <string>

class wxSQLite3Statement;

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoPluginIm {

class CEventOutbox {
public:
    enum Channel { ChannelEvents = 1, ChannelIoTEvents = 2, ChannelSyslog = 3 };
    // Sends one entry; false leaves it (and the rest of its channel) for a later flush.
    using Sender = std::function<bool(int channel, long long timeSeconds, const std::string& text)>;

    // Creates the outbox table when the file has none yet. Throws wxSQLite3Exception.
    explicit CEventOutbox(KvoCore::CSqliteDatabase& db);
    ~CEventOutbox();
    CEventOutbox(const CEventOutbox&) = delete;
    CEventOutbox& operator=(const CEventOutbox&) = delete;

    // Adds an entry within the connection's open transaction, if any. Throws.
    void Put(int channel, long long timeSeconds, const std::string& text);
    // Sends every waiting entry in the order it was put, deleting each one
    // sent. Only while the connection has no open transaction: entries of an
    // uncommitted batch are not to leave. Database errors are logged; what
    // was sent and not yet deleted is sent again later.
    void Flush(const Sender& send);

private:
    KvoCore::CSqliteDatabase& m_db;
    std::unique_ptr<wxSQLite3Statement> m_insert;
    bool m_pending = true;  // a first flush sends what an earlier process left
};

}  // namespace KvoPluginIm
