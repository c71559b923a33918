// CDom: the agent object. One agent per process (CDom::This()); every copy of
// a CDom shares it. It offers the state store, conditions, the stop request,
// configuration, agent events, event channels, the message bus and host
// lookups. Thread-safe.
#pragma once

#include <sys/types.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>

#include <wx/string.h>

class wxXmlNode;

#include "core/Log.h"
#include "core/Utilities.h"

namespace KvoCore {

class XMLObject;
class CAgent;
class CDatabaseKey;

struct CDomOptions {
    wxString workdir;     // created with mode 0700 when missing
    wxString configPath;  // empty: start without a configuration
};

class CDom {
public:
    // Creates the process's agent. False, with the reason in error, when the
    // work directory or the configuration cannot be used; a second Create while
    // an agent exists fails.
    static bool Create(const CDomOptions& options, wxString& error);
    // Ends the process's agent (after its threads stopped).
    static void Destroy();
    // The process's agent, or null when none exists.
    static CDom* This();

    // --- State store (narrow keys) ---
    bool Get(const std::string& key, bool& value) const;
    bool Get(const std::string& key, long long& value) const;
    bool Get(const std::string& key, std::string& value) const;
    bool Get(const std::string& key, void*& value) const;
    void Set(const std::string& key, bool value);
    void Set(const std::string& key, long long value);
    void Set(const std::string& key, int value) { Set(key, static_cast<long long>(value)); }
    void Set(const std::string& key, const std::string& value);
    void Set(const std::string& key, const char* value) { Set(key, std::string(value)); }
    void SetPointer(const std::string& key, void* value);
    void SetNil(const std::string& key);
    bool TestAndSet(const std::string& key, bool value);
    void SetFromText(const std::string& key, const std::string& text);
    // A string value read wide (UTF-8); empty when unset or not a string.
    wxString GetWxString(const std::string& key) const;

    // --- Conditions ---
    void ConditionRegister(const std::string& name);
    void ConditionRaise(const std::string& name);
    bool ConditionQuery(const std::string& name, long long& count) const;
    // Waits until the count exceeds lastSeen, the timeout passes or the agent stops.
    bool ConditionWait(const std::string& name, long long lastSeen, unsigned int timeoutMs, long long& count);

    // --- Stop ---
    // Waits at most ms; true once the agent stops its threads. On a CRunnable
    // thread it also returns (false) as soon as that thread is woken with
    // Awaken(); *awakened then becomes true.
    bool ShouldExit(unsigned int ms, bool* awakened = nullptr);
    void RequestStop();
    bool StopRequested() const;

    // --- Integrity database key ---
    // The key every connection to the integrity database opens it with (none:
    // a plain file). Kept out of the state store, which Lua can read.
    void SetIntegrityDbKey(const CDatabaseKey& key);
    CDatabaseKey IntegrityDbKey() const;

    // --- Work directories ---
    wxString GetWorkdirWx() const;
    // "<workdir>/<name>/", created with mode 0700.
    wxString GetPluginWorkdirWx(const wxString& name) const;

    // --- Configuration ---
    bool ConfigGetXml(const wxString& absolutePath, XMLObject& object) const;
    // The element as parsed, for tools that point at its lines; false when absent.
    bool ConfigVisitElement(const wxString& absolutePath, const std::function<void(const wxXmlNode&)>& use) const;
    bool ConfigGetAttribute(const wxString& elementPath, const wxString& attribute, wxString& value) const;
    bool ConfigIsEmpty() const;
    // Re-reads the file; on success raises "app.configUpdated". A failure is
    // logged and leaves the configuration in force.
    bool ConfigReload(wxString& error);

    // --- Agent events: "id|text" lines in <workdir>/agent-events.log and the log ---
    // The format's bars separate the fields; a bar inside a text argument
    // (a path, a database error) becomes a broken bar, so fields never shift.
    template <typename... Args>
    void DoAgentEventWrite(int id, const wxString& format, Args... args) {
        AgentEventWrite(id, wxString::Format(format, EventField(args)...));
    }
    template <typename... Args>
    void DoAgentEventWriteAndLog(int id, LogLevel level, const wxString& format, Args... args) {
        wxString text = wxString::Format(format, EventField(args)...);
        Log(level, text);
        AgentEventWrite(id, text);
    }
    void AgentEventWrite(int id, const wxString& text);
    template <typename T>
    static T EventField(T value) {
        return value;
    }
    static wxString EventField(const wxString& text) { return ReplaceBars(text); }
    static wxString EventField(const char* text) { return ReplaceBars(wxString(text)); }

    // --- Event channels: JSON lines in <workdir>/events.jsonl and iot-events.jsonl ---
    bool EventWrite(const char* json, unsigned long length);
    bool IoTEventWrite(const char* json, unsigned long length);
    bool IsEventOverHeartbeat(const char* source = nullptr) const;
    // True when the state key "kvo.events.iot" is true.
    bool IsEventOverIoT(const char* source = nullptr) const;

    // --- Message bus ---
    void MsgBusEnqueue(const std::string& queue, const std::string& data);
    bool MsgBusDequeue(const std::string& queue, unsigned int timeoutMs, std::string& data, bool wakeable = true);
    void MsgBusWake(const std::string& queue);

    // --- Host ---
    // The environment variable's value; false when it is not defined.
    bool EnvGet(const wxString& name, wxString& value) const;
    // Owner uid with the user name as friendly text, group gid with the group
    // name, permissions in octal with the "rwxr-xr-x" form. False when the file
    // cannot be examined (the link itself is examined, not its target).
    bool FileGetSecurityInfo(const wxString& path, wxString& owner, wxString& ownerFriendly,
                             wxString& group, wxString& groupFriendly, wxString& permissions,
                             wxString& permissionsFriendly) const;
    // The same texts from a status record the caller already read with lstat.
    void FileSecurityInfoFromStatus(const struct stat& status, wxString& owner, wxString& ownerFriendly,
                                    wxString& group, wxString& groupFriendly, wxString& permissions,
                                    wxString& permissionsFriendly) const;
    bool LookupUserId(uid_t uid, wxString& name) const;
    bool LookupGroupId(gid_t gid, wxString& name) const;
    // "kvo.host.windows" true makes the agent protect a Windows host (tests).
    bool IsProtectingWindows() const;
    bool IsProtectingLinux() const;

private:
    explicit CDom(std::shared_ptr<CAgent> agent);
    std::shared_ptr<CAgent> m_agent;
};

}  // namespace KvoCore
