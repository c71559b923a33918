#include "core/DatabaseKey.h"

#include <openssl/crypto.h>

namespace KvoCore {

CDatabaseKey::~CDatabaseKey() {
    if (!m_passphrase.empty()) OPENSSL_cleanse(&m_passphrase[0], m_passphrase.size());
}

CDatabaseKey CDatabaseKey::FromKeyText(const wxString& keyText) {
    const wxString lower = keyText.Lower();
    DbCipher cipher = DbCipher::Aes128;
    wxString passphrase = keyText;
    if (lower.Contains("aes256:")) {
        cipher = DbCipher::Aes256;
        passphrase = keyText.AfterFirst(':');
    } else if (lower.Contains("aes128:")) {
        passphrase = keyText.AfterFirst(':');
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
