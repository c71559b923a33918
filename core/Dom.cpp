#include "core/Dom.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <wx/filename.h>
#include <wx/utils.h>

#include "core/Agent.h"
#include "core/Runnable.h"
#include "core/Utilities.h"
#include "core/WakeHub.h"
#include "core/StateKeys.h"

namespace KvoCore {
namespace {

std::mutex g_thisLock;
std::unique_ptr<CDom> g_this;

std::string EscapeEventText(const wxString& text) {
    std::string in(text.utf8_str());
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

wxString PermissionText(mode_t mode) {
    char text[10] = "---------";
    static const mode_t bits[9] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    static const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & bits[i]) text[i] = letters[i];
    // Special bits show in the execute position, lower case when execute is set too.
    if (mode & S_ISUID) text[2] = (mode & S_IXUSR) ? 's' : 'S';
    if (mode & S_ISGID) text[5] = (mode & S_IXGRP) ? 's' : 'S';
    if (mode & S_ISVTX) text[8] = (mode & S_IXOTH) ? 't' : 'T';
    return wxString(text);
}

}  // namespace

CDom::CDom(std::shared_ptr<CAgent> agent) : m_agent(std::move(agent)) {}

bool CDom::Create(const CDomOptions& options, wxString& error) {
    std::lock_guard<std::mutex> guard(g_thisLock);
    if (g_this) {
        error = "an agent already exists in this process";
        return false;
    }
    InitFileNameConversion();
    auto agent = std::make_shared<CAgent>();
    if (!agent->Open(options.workdir, error)) return false;
    if (!options.configPath.empty() && !agent->configuration.Load(options.configPath, error)) return false;
    wxString logError;
    if (!LogSetFile(agent->workdir + "/kvo-agent.log", logError)) LogWarning(logError);
    agent->state.Set(Keys::kWorkPath, std::string(agent->workdir.utf8_str()));
    g_this.reset(new CDom(agent));
    return true;
}

void CDom::Destroy() {
    std::unique_ptr<CDom> gone;
    {
        std::lock_guard<std::mutex> guard(g_thisLock);
        gone = std::move(g_this);
    }
    if (gone) {
        wxString ignored;
        LogSetFile(wxString(), ignored);
    }
}

CDom* CDom::This() {
    std::lock_guard<std::mutex> guard(g_thisLock);
    return g_this.get();
}

// --- State store ---
bool CDom::Get(const std::string& key, bool& value) const { return m_agent->state.Get(key, value); }
bool CDom::Get(const std::string& key, long long& value) const { return m_agent->state.Get(key, value); }
bool CDom::Get(const std::string& key, std::string& value) const { return m_agent->state.Get(key, value); }
bool CDom::Get(const std::string& key, void*& value) const { return m_agent->state.Get(key, value); }
void CDom::Set(const std::string& key, bool value) { m_agent->state.Set(key, value); }
void CDom::Set(const std::string& key, long long value) { m_agent->state.Set(key, value); }
void CDom::Set(const std::string& key, const std::string& value) { m_agent->state.Set(key, value); }
void CDom::SetPointer(const std::string& key, void* value) { m_agent->state.SetPointer(key, value); }
void CDom::SetNil(const std::string& key) { m_agent->state.SetNil(key); }
bool CDom::TestAndSet(const std::string& key, bool value) { return m_agent->state.TestAndSet(key, value); }
void CDom::SetFromText(const std::string& key, const std::string& text) { m_agent->state.SetFromText(key, text); }

wxString CDom::GetWxString(const std::string& key) const {
    std::string value;
    if (!m_agent->state.Get(key, value)) return wxString();
    return wxString::FromUTF8(value.data(), value.size());
}

// --- Conditions ---
void CDom::ConditionRegister(const std::string& name) { m_agent->conditions.Register(name); }
void CDom::ConditionRaise(const std::string& name) { m_agent->conditions.Raise(name); }
bool CDom::ConditionQuery(const std::string& name, long long& count) const {
    return m_agent->conditions.Query(name, count);
}
bool CDom::ConditionWait(const std::string& name, long long lastSeen, unsigned int timeoutMs, long long& count) {
    CAgent* agent = m_agent.get();
    return m_agent->conditions.WaitAbove(name, lastSeen, timeoutMs, count,
                                         [agent] { return agent->stopRequested.load(); });
}

// --- Stop ---
bool CDom::ShouldExit(unsigned int ms, bool* awakened) {
    if (awakened) *awakened = false;
    CRunnable* self = CRunnable::This();
    CAgent* agent = m_agent.get();
    auto mustStop = [agent, self] { return agent->stopRequested.load() || (self && self->ExitRequested()); };
    if (self) self->NoteAlive(false);
    if (ms == 0) return mustStop();  // a pending wake-up stays for the next real wait
    if (self) self->NoteAlive(true);
    CWakeHub::Instance().WaitFor(ms, [&] { return mustStop() || (self && self->HasWakeup()); });
    if (self) self->NoteAlive(false);
    if (mustStop()) return true;
    if (self && self->TakeWakeup() && awakened) *awakened = true;
    return false;
}

void CDom::RequestStop() {
    m_agent->stopRequested = true;
    CWakeHub::Instance().NotifyAll();
    m_agent->conditions.WakeAll();
    m_agent->messageBus.Shutdown();
}

bool CDom::StopRequested() const { return m_agent->stopRequested.load(); }

// --- Integrity database key ---
void CDom::SetIntegrityDbKey(const CDatabaseKey& key) {
    std::lock_guard<std::mutex> lock(m_agent->keyMutex);
    m_agent->integrityDbKey = key;
}

CDatabaseKey CDom::IntegrityDbKey() const {
    std::lock_guard<std::mutex> lock(m_agent->keyMutex);
    return m_agent->integrityDbKey;
}

// --- Work directories ---
wxString CDom::GetWorkdirWx() const { return m_agent->workdir; }

wxString CDom::GetPluginWorkdirWx(const wxString& name) const {
    wxString dir = m_agent->workdir + "/" + name + "/";
    if (!wxFileName::DirExists(dir) && !wxFileName::Mkdir(dir, 0700, wxPATH_MKDIR_FULL))
        LogError(wxString::Format("cannot create plug-in directory %s: %s", dir, strerror(errno)));
    return dir;
}

// --- Configuration ---
bool CDom::ConfigGetXml(const wxString& absolutePath, XMLObject& object) const {
    return m_agent->configuration.GetXml(absolutePath, object);
}

bool CDom::ConfigVisitElement(const wxString& absolutePath,
                              const std::function<void(const wxXmlNode&)>& use) const {
    return m_agent->configuration.VisitElement(absolutePath, use);
}

bool CDom::ConfigGetAttribute(const wxString& elementPath, const wxString& attribute, wxString& value) const {
    return m_agent->configuration.GetAttribute(elementPath, attribute, value);
}

bool CDom::ConfigIsEmpty() const { return m_agent->configuration.IsEmpty(); }

bool CDom::ConfigReload(wxString& error) {
    if (!m_agent->configuration.Reload(error)) {
        LogError("configuration not reloaded, the one in force stays: " + error);
        return false;
    }
    m_agent->conditions.Raise(Keys::kConfigUpdated);
    return true;
}

// --- Agent events and event channels ---
void CDom::AgentEventWrite(int id, const wxString& text) {
    LogInfo(wxString::Format("agent event %d: %s", id, text));
    if (!m_agent->AppendLine(m_agent->agentEventsFd, std::to_string(id) + "|" + EscapeEventText(text) + "\n"))
        LogError(wxString::Format("agent event %d could not be written: %s", id, strerror(errno)));
}

bool CDom::EventWrite(const char* json, unsigned long length) {
    return m_agent->AppendLine(m_agent->eventsFd, std::string(json, length) + "\n");
}

bool CDom::IoTEventWrite(const char* json, unsigned long length) {
    return m_agent->AppendLine(m_agent->iotEventsFd, std::string(json, length) + "\n");
}

bool CDom::IsEventOverHeartbeat(const char*) const { return true; }

bool CDom::IsEventOverIoT(const char*) const {
    bool on = false;
    return m_agent->state.Get(Keys::kEventsIot, on) && on;
}

// --- Message bus ---
void CDom::MsgBusEnqueue(const std::string& queue, const std::string& data) {
    m_agent->messageBus.Enqueue(queue, data);
}

bool CDom::MsgBusDequeue(const std::string& queue, unsigned int timeoutMs, std::string& data, bool) {
    return m_agent->messageBus.Dequeue(queue, timeoutMs, data);
}

void CDom::MsgBusWake(const std::string& queue) { m_agent->messageBus.Wake(queue); }

// --- Host ---
bool CDom::EnvGet(const wxString& name, wxString& value) const { return wxGetEnv(name, &value); }

bool CDom::FileGetSecurityInfo(const wxString& path, wxString& owner, wxString& ownerFriendly, wxString& group,
                               wxString& groupFriendly, wxString& permissions,
                               wxString& permissionsFriendly) const {
    struct stat st;
    if (lstat(path.fn_str(), &st) != 0) return false;
    FileSecurityInfoFromStatus(st, owner, ownerFriendly, group, groupFriendly, permissions, permissionsFriendly);
    return true;
}

void CDom::FileSecurityInfoFromStatus(const struct stat& st, wxString& owner, wxString& ownerFriendly,
                                      wxString& group, wxString& groupFriendly, wxString& permissions,
                                      wxString& permissionsFriendly) const {
    owner = toDecimalString(st.st_uid);
    if (!LookupUserId(st.st_uid, ownerFriendly)) ownerFriendly = owner;
    group = toDecimalString(st.st_gid);
    if (!LookupGroupId(st.st_gid, groupFriendly)) groupFriendly = group;
    permissions = toOctalString(st.st_mode & 07777);
    permissionsFriendly = PermissionText(st.st_mode);
}

bool CDom::LookupUserId(uid_t uid, wxString& name) const { return m_agent->userNames.Find(uid, name); }

bool CDom::LookupGroupId(gid_t gid, wxString& name) const { return m_agent->groupNames.Find(gid, name); }

bool CDom::IsProtectingWindows() const {
    bool windows = false;
    return m_agent->state.Get(Keys::kHostWindows, windows) && windows;
}

bool CDom::IsProtectingLinux() const { return !IsProtectingWindows(); }

}  // namespace KvoCore
