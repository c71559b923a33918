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

std::string CIntegrityKey::KeyText(const KvoCore::CDatabaseKey& key) {
    return std::string(key.Cipher() == KvoCore::DbCipher::Aes256 ? "aes256:" : "aes128:") + key.Passphrase();
}

}  // namespace KvoAgent
