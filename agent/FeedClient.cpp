#include "agent/FeedClient.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <wx/filename.h>

#include "agent/AgentHost.h"
#include "agent/ControlClient.h"
#include "agent/Utf8.h"

namespace KvoAgent {

bool CFeedClient::ReadAll(const std::string& path, std::string& text) {
    FILE* in = path.empty() ? stdin : fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
    const bool ok = !ferror(in);
    if (in != stdin) fclose(in);
    return ok;
}

int CFeedClient::Run(KvoCore::CDom& dom, const wxString& startDir, const std::vector<std::string>& arguments) {
    std::string path;
    if (!arguments.empty() && arguments[0] != "-") {
        wxFileName file(wxString::FromUTF8(arguments[0].c_str()));
        file.MakeAbsolute(startDir);
        path = Narrow(file.GetFullPath());
    }
    // All of it first: the records may come from a scanner that takes its time.
    std::string input;
    if (!ReadAll(path, input)) {
        fprintf(stderr, "kvo-agent: feed: cannot read %s: %s\n", path.empty() ? "standard input" : path.c_str(),
                strerror(errno));
        return ExitBadInput;
    }
    CControlClient client;
    std::string error;
    switch (client.Connect(error)) {
        case CControlClient::Connection::NoAgent:
            fprintf(stderr, "kvo-agent: feed: no agent runs on the work directory %s; records are fed to a "
                            "running one (kvo-agent run)\n",
                    Narrow(dom.GetWorkdirWx()).c_str());
            return ExitTryAgain;
        case CControlClient::Connection::Failed:
            fprintf(stderr, "kvo-agent: %s\n", error.c_str());
            return ExitInternal;
        case CControlClient::Connection::Open:
            break;
    }
    client.SetInput(std::move(input));
    return client.Carry(dom, "feed", {});
}

}  // namespace KvoAgent
