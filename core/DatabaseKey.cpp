#include "core/DatabaseKey.h"

#include <openssl/crypto.h>

namespace KvoCore {

CDatabaseKey::~CDatabaseKey() {
    if (!m_passphrase.empty()) OPENSSL_cleanse(&m_passphrase[0], m_passphrase.size());
}

CDatabaseKey CDatabaseKey::FromSpecification(const wxString& specification) {
    const wxString lower = specification.Lower();
    DbCipher cipher = DbCipher::Aes128;
    wxString passphrase = specification;
    if (lower.Contains("aes256:")) {
        cipher = DbCipher::Aes256;
        passphrase = specification.AfterFirst(':');
    } else if (lower.Contains("aes128:")) {
        passphrase = specification.AfterFirst(':');
    }
    const wxScopedCharBuffer utf8 = passphrase.utf8_str();
    return CDatabaseKey(cipher, std::string(utf8.data(), utf8.length()));
}

const char* CDatabaseKey::CipherName() const {
    switch (m_cipher) {
        case DbCipher::Aes128: return "AES-128";
        case DbCipher::Aes256: return "AES-256";
        case DbCipher::None: break;
    }
    return "none";
}

}  // namespace KvoCore
