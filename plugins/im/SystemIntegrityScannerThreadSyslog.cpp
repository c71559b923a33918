// CIntegrityScanThread: the CEF syslog line sent after each reported event.
// The syslogger owns header, host identity, escaping and transport; this file
// owns the body: signature id, rule name, severity and the extension.
#include <errno.h>
#include <string.h>

#include <wx/log.h>
#include <wx/wxsqlite3.h>

#include <memory>
#include <string>

#include "core/Log.h"
#include "core/Snprintfcat.h"
#include "core/SqliteDatabase.h"
#include "core/Syslogger.h"
#include "plugins/im/EventOutbox.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

namespace {

constexpr unsigned long kLineBufferSize = 65536;
constexpr size_t kLineLimit = 65528;
constexpr long kDefaultSignatureId = 30;
constexpr size_t kNameLimit = 128;
constexpr const char* kActPrefix = " act=";

enum Change { ChangeCreate = 1, ChangeUpdate = 2, ChangeDelete = 3, ChangeRename = 4 };

long SignatureId(const CSqlIntegrityRule& rule, int integrityRuleId) {
    const wxString& identifier = rule.GetIdentifier();
    if (identifier.empty()) return kDefaultSignatureId;
    if (!identifier.IsNumber()) {
        KvoCore::LogError(
            wxString::Format("Identifier for SI rule (id=%d) is not a number: %s", integrityRuleId, identifier));
        return kDefaultSignatureId;
    }
    long id = 0;
    if (!identifier.ToLong(&id)) {
        KvoCore::LogError(
            wxString::Format("Identifier for SI rule (id=%d) is invalid: %s", integrityRuleId, identifier));
        return kDefaultSignatureId;
    }
    return id;
}

// A cut that splits an escape would leave a lone backslash, which escapes the
// field separator that follows and so runs the name into the severity.
wxString CefName(const wxString& name) {
    wxString escaped = KvoCore::CSyslogger::EscapeCEFPrefix(name).Left(kNameLimit);
    size_t trailing = 0;
    for (auto it = escaped.rbegin(); it != escaped.rend() && *it == '\\'; ++it) ++trailing;
    if (trailing % 2 == 1) escaped.RemoveLast();
    return escaped;
}

int CefSeverity(const CSqlEntity* was, const CSqlEntity* is) {
    const CSqlEntity* entity = is != nullptr ? is : was;
    switch (entity != nullptr ? entity->m_integrityRuleSeverity : 0) {
        case 1: return 3;
        case 2: return 6;
        case 3: return 8;
        case 4: return 10;
        default: return 9;
    }
}

wxString PathField(const wxString& key, int formatLevel) {
    return (formatLevel >= 2 ? " filePath=" : " fname=") + KvoCore::CSyslogger::EscapeCEFExtension(key);
}

wxString ActorFields(const wxString& user, const wxString& process) {
    wxString fields;
    if (!user.empty()) fields << " suser=" << KvoCore::CSyslogger::EscapeCEFExtension(user);
    if (!process.empty()) fields << " sproc=" << KvoCore::CSyslogger::EscapeCEFExtension(process);
    return fields;
}

wxString RenameFields(const wxString& oldKey, const wxString& newKey, int formatLevel) {
    const wxString from = KvoCore::CSyslogger::EscapeCEFExtension(oldKey);
    const wxString to = KvoCore::CSyslogger::EscapeCEFExtension(newKey);
    if (formatLevel >= 2) return " oldfilePath=" + from + " filePath=" + to;
    return " fname=" + from + " -> " + to;
}

// The extension after " act="; false when the entity the change names is missing.
bool Extension(const CSqlEntity* was, const CSqlEntity* is, int change, const wxString& changedNames,
               const wxString& user, const wxString& process, int formatLevel, wxString& text) {
    const wxString actor = ActorFields(user, process);
    switch (change) {
        case ChangeCreate:
            if (is == nullptr) return false;
            text = "created" + actor + PathField(is->m_key, formatLevel);
            return true;
        case ChangeUpdate:
            if (is == nullptr) return false;
            text = "updated" + actor + PathField(is->m_key, formatLevel) + " msg=" + changedNames;
            return true;
        case ChangeDelete:
            if (was == nullptr) return false;
            text = "deleted" + actor + PathField(was->m_key, formatLevel);
            return true;
        case ChangeRename:
            if (was == nullptr || is == nullptr) return false;
            text = "renamed" + actor + RenameFields(was->m_key, is->m_key, formatLevel);
            return true;
        default:
            text = "unknown";
            return true;
    }
}

// The longest prefix of text within limit bytes that ends on a character boundary.
size_t Utf8PrefixLength(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text.size();
    size_t length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return length;
}

const char* ChangeWord(int change) {
    switch (change) {
        case ChangeCreate: return "Created";
        case ChangeUpdate: return "Updated";
        case ChangeDelete: return "Deleted";
        case ChangeRename: return "Renamed";
        default: return "?Unknown?";
    }
}

wxString TracedKey(const CSqlEntity* was, const CSqlEntity* is, int change) {
    const wxString oldKey = was != nullptr ? was->m_key : wxString();
    const wxString newKey = is != nullptr ? is->m_key : wxString();
    if (change == ChangeRename) return oldKey + " -> " + newKey;
    return is != nullptr ? newKey : oldKey;
}

}  // namespace

void CIntegrityScanThread::SyslogSend(const CSqlEntity* was, const CSqlEntity* is, int status, int integrityRuleId,
                                      int change, const wxString& changedNames, long long eventTime,
                                      const wxString& user, const wxString& process) {
    m_syslog.UpdateConfig();
    if (!m_syslog.IsEnabled() || !m_syslog.HasDestination()) return;
    KVO_SCANNER_TRACE("SyslogSend() %s: %s", ChangeWord(change), TracedKey(was, is, change));
    std::string line;
    if (!SyslogFormat(was, is, status, integrityRuleId, change, changedNames, user, process,
                      m_syslog.GetFormatLevel(), line)) {
        KvoCore::LogError("CIntegrityScanThread::SyslogSend() - format failed");
        return;
    }
    m_outbox->Put(CEventOutbox::ChannelSyslog, eventTime / 1000, line);
    FlushOutbox();
}

bool CIntegrityScanThread::SyslogDeliver(const std::string& line, long long timeSeconds) {
    m_syslog.UpdateConfig();
    // Turned off since the event was recorded: the line has nowhere to go.
    if (!m_syslog.IsEnabled() || !m_syslog.HasDestination()) return true;
    if (!m_syslog.Open()) return false;
    const long seconds = static_cast<long>(timeSeconds);
    if (m_syslog.Send(line.c_str(), seconds)) return true;
    const int error = errno;
    KvoCore::LogError(
        wxString::Format("CIntegrityScanThread::SyslogSend() - send failed: %s", wxSysErrorMsgStr(error)));
    return false;
}

bool CIntegrityScanThread::SyslogFormat(const CSqlEntity* was, const CSqlEntity* is, int /*status*/,
                                        int integrityRuleId, int change, const wxString& changedNames,
                                        const wxString& user, const wxString& process, int formatLevel,
                                        std::string& line) {
    if (!m_db || !m_db->IsOpenDb()) return false;
    CSqlIntegrityRule rule;
    try {
        // A rule removed since the change was found still gets its line: the
        // change happened. The line names no rule, and its signature id falls back.
        if (!GetIntegrityRule(*m_db, integrityRuleId, rule)) rule.SetId(integrityRuleId);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("%s cannot load SI rule (id=%d) for syslog: %s", GetThreadName(),
                                           integrityRuleId, e.GetMessage()));
        return false;
    }
    wxString extension;
    if (!Extension(was, is, change, changedNames, user, process, formatLevel, extension)) return false;

    std::unique_ptr<char[]> buffer(new char[kLineBufferSize]);
    buffer[0] = '\0';
    m_syslog.AppendHeaderCEF(buffer.get(), kLineBufferSize);
    KvoCore::snprintfcat(buffer.get(), kLineBufferSize, "%ld|%s|%d|", SignatureId(rule, integrityRuleId),
                         static_cast<const char*>(CefName(rule.GetName()).utf8_str()), CefSeverity(was, is));
    m_syslog.AppendHostIdentityCEF(formatLevel, buffer.get(), kLineBufferSize);

    const size_t used = strlen(buffer.get()) + strlen(kActPrefix);
    const size_t room = used < kLineLimit ? kLineLimit - used : 0;
    const std::string act(extension.utf8_str());
    KvoCore::snprintfcat(buffer.get(), kLineBufferSize, "%s%.*s", kActPrefix,
                         static_cast<int>(Utf8PrefixLength(act, room)), act.c_str());
    line = buffer.get();
    return true;
}

}  // namespace KvoPluginIm
