#include "core/Agent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <wx/filename.h>

namespace KvoCore {
namespace {

int OpenAppend(const wxString& path, wxString& error) {
    int fd = open(path.fn_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) error = wxString::Format("cannot open %s: %s", path, strerror(errno));
    return fd;
}

}  // namespace

CAgent::~CAgent() {
    for (int fd : {agentEventsFd, eventsFd, iotEventsFd})
        if (fd >= 0) close(fd);
}

bool CAgent::Open(const wxString& dir, wxString& error) {
    wxFileName name = wxFileName::DirName(dir);
    name.MakeAbsolute();
    workdir = name.GetPath(wxPATH_GET_VOLUME);
    struct stat st;
    if (lstat(workdir.fn_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        error = wxString::Format("work directory %s is not a directory", workdir);
        return false;
    }
    if (!wxFileName::DirExists(workdir) &&
        !wxFileName::Mkdir(workdir, 0700, wxPATH_MKDIR_FULL)) {
        error = wxString::Format("cannot create work directory %s: %s", workdir, strerror(errno));
        return false;
    }
    if (stat(workdir.fn_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = wxString::Format("work directory %s is not a directory", workdir);
        return false;
    }
    agentEventsFd = OpenAppend(workdir + "/agent-events.log", error);
    if (agentEventsFd < 0) return false;
    eventsFd = OpenAppend(workdir + "/events.jsonl", error);
    if (eventsFd < 0) return false;
    iotEventsFd = OpenAppend(workdir + "/iot-events.jsonl", error);
    return iotEventsFd >= 0;
}

bool CAgent::AppendLine(int fd, const std::string& line) {
    if (fd < 0) return false;
    const char* data = line.data();
    ssize_t written = write(fd, data, line.size());
    return written == static_cast<ssize_t>(line.size());
}

}  // namespace KvoCore
