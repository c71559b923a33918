// CDatabaseKey: which page cipher, and with which passphrase, a database file
// is encrypted. A default-constructed key means a plain file. A value type;
// the passphrase is wiped when the object dies.
#pragma once

#include <string>

#include <wx/string.h>

namespace KvoCore {

enum class DbCipher { None, Aes128, Aes256 };

class CDatabaseKey {
public:
    CDatabaseKey() = default;
    CDatabaseKey(DbCipher cipher, const std::string& passphrase) : m_cipher(cipher), m_passphrase(passphrase) {}
    ~CDatabaseKey();
    CDatabaseKey(const CDatabaseKey&) = default;
    CDatabaseKey& operator=(const CDatabaseKey&) = default;

    // A key text: "aes256:KEY" and "aes128:KEY" name the cipher (the
    // prefix in any letter case, found anywhere in the text; the key is what
    // follows the first colon), anything else is an AES-128 key as a whole.
    static CDatabaseKey FromKeyText(const wxString& keyText);

    bool IsSet() const { return m_cipher != DbCipher::None; }
    DbCipher Cipher() const { return m_cipher; }
    // UTF-8 bytes of the passphrase.
    const std::string& Passphrase() const { return m_passphrase; }
    // How page 1 of a file this key creates is written: false keeps header
    // bytes 16..23 plain (the default), true encrypts the whole page. An
    // existing file is read in whichever way it was written.
    bool EncryptsWholeFirstPage() const { return m_wholeFirstPage; }
    void SetEncryptsWholeFirstPage(bool whole) { m_wholeFirstPage = whole; }
    const char* CipherName() const;

private:
    DbCipher m_cipher = DbCipher::None;
    std::string m_passphrase;
    bool m_wholeFirstPage = false;
};

}  // namespace KvoCore
