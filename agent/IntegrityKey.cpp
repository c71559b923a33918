#include "agent/IntegrityKey.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>
#include <wx/filename.h>

#include "agent/AgentHost.h"
#include "agent/Utf8.h"
#include "core/DatabaseRekey.h"
#include "core/Dom.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

const char kAgentConfiguration[] = "/SecurityConfiguration/AgentConfiguration";
const char kKeyFileAttribute[] = "integrityDatabaseKeyFile";
const char kCredential[] = "kvo-db-key";
const size_t kMaxSpecification = 4096;

std::string ConfiguredPath(KvoCore::CDom& dom, const wxString& configDir) {
    wxString path;
    if (dom.ConfigGetAttribute(kAgentConfiguration, kKeyFileAttribute, path) && !path.empty()) {
        wxFileName name(path);
        name.MakeAbsolute(configDir);
        return Narrow(name.GetFullPath());
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

bool CIntegrityKey::ReadFile(const std::string& path, std::string& specification, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status;
    bool ok = ::fstat(fd, &status) == 0 && CheckOwnership(path, status, error);
    char buffer[kMaxSpecification + 1];
    const ssize_t n = ok ? ::read(fd, buffer, sizeof buffer) : 0;
    ::close(fd);
    if (ok && (n <= 0 || size_t(n) > kMaxSpecification)) {
        error = "the key file " + path + (n <= 0 ? " is empty" : " is too long for a key");
        ok = false;
    }
    if (ok) {
        // One line: the line end is not part of the key.
        specification.assign(buffer, size_t(n));
        const size_t end = specification.find_first_of("\r\n");
        if (end != std::string::npos) specification.resize(end);
        if (specification.empty()) {
            error = "the key file " + path + " holds no key on its first line";
            ok = false;
        }
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    return ok;
}

bool CIntegrityKey::Load(KvoCore::CDom& dom, const wxString& configDir, std::string& error) {
    const std::string path = ConfiguredPath(dom, configDir);
    if (path.empty()) return true;
    std::string specification;
    if (!ReadFile(path, specification, error)) return false;
    dom.SetIntegrityDbKey(KvoCore::CDatabaseKey::FromSpecification(wxString::FromUTF8(specification)));
    OPENSSL_cleanse(&specification[0], specification.size());
    return true;
}

int CIntegrityKey::PrepareDatabase(KvoCore::CDom& dom, const wxString& path) {
    const KvoCore::CDatabaseKey key = dom.IntegrityDbKey();
    if (!key.IsSet() || !wxFileName::FileExists(path)) return ExitOk;
    if (!KvoCore::CDatabaseRekey::IsPlain(path)) {
        if (KvoCore::CDatabaseRekey::Opens(dom, path, key)) return ExitOk;
        fprintf(stderr,
                "kvo-agent: the configured key does not open the integrity database %s (a wrong key, or another "
                "cipher); nothing was changed\n",
                Narrow(path).c_str());
        return ExitDatabase;
    }
    wxString error;
    if (!KvoCore::CDatabaseRekey::Rewrite(dom, path, KvoCore::CDatabaseKey(), key, error)) {
        fprintf(stderr, "kvo-agent: the plain integrity database %s could not be encrypted: %s\n", Narrow(path).c_str(),
                Narrow(error).c_str());
        return ExitDatabase;
    }
    KvoCore::LogInfo(wxString::Format("The integrity database %s was plain: it is now encrypted (%s) with the "
                                      "configured key",
                                      path, key.CipherName()));
    return ExitOk;
}

std::string CIntegrityKey::Specification(const KvoCore::CDatabaseKey& key) {
    return std::string(key.Cipher() == KvoCore::DbCipher::Aes256 ? "aes256:" : "aes128:") + key.Passphrase();
}

}  // namespace KvoAgent
