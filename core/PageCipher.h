// CPageCipher: the AES-128 and AES-256 CBC page formats of encrypted SQLite
// files as wxSQLite3 writes them: a key derived from the passphrase, then for
// every page a key and an IV derived from the page number, CBC without padding
// or MAC, so a page keeps its size. Page 1 comes in two forms: bytes 16..23
// (page size and fixed header bytes) left plain, or the whole page encrypted;
// the plain bytes tell which. Immutable after construction, so one object
// serves every thread; the derived key is wiped when it dies.
#pragma once

#include <cstdint>

#include "core/DatabaseKey.h"

namespace KvoCore {

class CPageCipher {
public:
    // key must be set (not DbCipher::None).
    explicit CPageCipher(const CDatabaseKey& key);
    ~CPageCipher();
    CPageCipher(const CPageCipher&) = delete;
    CPageCipher& operator=(const CPageCipher&) = delete;

    // In place; length a multiple of 16. wholeFirstPage chooses page 1's form.
    void Encrypt(uint32_t page, unsigned char* data, int length, bool wholeFirstPage) const;
    // In place. False only for page 1 that does not decrypt to a database
    // header: a wrong key, another cipher or a file that is not encrypted.
    bool Decrypt(uint32_t page, unsigned char* data, int length) const;
    // From the first 32 bytes of a file: whether this key opens it, page 1's
    // form and the page size.
    bool Probe(const unsigned char head[32], bool& wholeFirstPage, int& pageSize) const;

    // The page size that header bytes 16..17 give, 0 when they hold none.
    static int PageSizeField(const unsigned char* field);

private:
    // bytes 16..23 that a plain header of some page size would hold.
    static bool IsPlainHeaderPart(const unsigned char* bytes);
    void Cbc(bool encrypt, uint32_t page, const unsigned char* in, int length, unsigned char* out) const;

    DbCipher m_cipher;
    int m_keyLength;
    unsigned char m_key[32];
};

}  // namespace KvoCore
