#include "core/IntegrityKeyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>
#include <wx/filename.h>

#include "core/DatabaseKey.h"
#include "core/Dom.h"

namespace KvoCore {

namespace {

const char kAgentConfiguration[] = "/SecurityConfiguration/AgentConfiguration";
const char kKeyFileAttribute[] = "integrityDatabaseKeyFile";
const char kCredential[] = "kvo-db-key";
const size_t kMaxKeyText = 4096;

std::string ConfiguredPath(CDom& dom, const wxString& configDir) {
    wxString path;
    if (dom.ConfigGetAttribute(kAgentConfiguration, kKeyFileAttribute, path) && !path.empty()) {
        wxFileName name(path);
        name.MakeAbsolute(configDir);
        return std::string(name.GetFullPath().utf8_str());
    }
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials == nullptr || *credentials == '\0') return std::string();
    const std::string credential = std::string(credentials) + "/" + kCredential;
    return ::access(credential.c_str(), F_OK) == 0 ? credential : std::string();
}

bool CheckOwnership(const std::string& path, const struct stat& status, std::string& error) {
    if (!S_ISREG(status.st_mode)) {
        error = "the key file " + path + " is not a regular file";
        return false;
    }
    if ((status.st_mode & 077) != 0) {
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", unsigned(status.st_mode & 07777));
        error = "the key file " + path + " has mode " + mode +
                ": it must not be readable or writable by group or others (chmod 600 it)";
        return false;
    }
    if (status.st_uid != ::geteuid()) {
        error = "the key file " + path + " is owned by uid " + std::to_string(status.st_uid) +
                ", not by the agent's user (uid " + std::to_string(::geteuid()) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool CIntegrityKeyFile::ReadFile(const std::string& path, std::string& keyText, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status;
    bool ok = ::fstat(fd, &status) == 0 && CheckOwnership(path, status, error);
    char buffer[kMaxKeyText + 1];
    const ssize_t n = ok ? ::read(fd, buffer, sizeof buffer) : 0;
    ::close(fd);
    if (ok && (n <= 0 || size_t(n) > kMaxKeyText)) {
        error = "the key file " + path + (n <= 0 ? " is empty" : " is too long for a key");
        ok = false;
    }
    if (ok) {
        // One line: the line end is not part of the key.
        keyText.assign(buffer, size_t(n));
        const size_t end = keyText.find_first_of("\r\n");
        if (end != std::string::npos) keyText.resize(end);
        if (keyText.empty()) {
            error = "the key file " + path + " holds no key on its first line";
            ok = false;
        }
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    return ok;
}

bool CIntegrityKeyFile::Load(CDom& dom, const wxString& configDir, std::string& error) {
    const std::string path = ConfiguredPath(dom, configDir);
    if (path.empty()) return true;
    std::string keyText;
    if (!ReadFile(path, keyText, error)) return false;
    dom.SetIntegrityDbKey(CDatabaseKey::FromKeyText(wxString::FromUTF8(keyText)));
    OPENSSL_cleanse(&keyText[0], keyText.size());
    return true;
}

}  // namespace KvoCore
