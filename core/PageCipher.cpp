#include "core/PageCipher.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace KvoCore {

namespace {

const unsigned char kFileHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', 0};

// The 32-byte padding of the PDF password algorithm, which the key
// derivation borrows: a passphrase is cut or padded to 32 bytes with it.
const unsigned char kPadding[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                    0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                    0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};
const int kSha256Rounds = 4001;
const int kMd5Rounds = 50;

struct DigestDeleter {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct CipherDeleter {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// Fetched once: an implicit fetch on every page costs more than the page's AES.
const EVP_MD* Md(const char* name) {
    static const std::unique_ptr<EVP_MD, DigestDeleter> md5(EVP_MD_fetch(nullptr, "MD5", nullptr));
    static const std::unique_ptr<EVP_MD, DigestDeleter> sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    const EVP_MD* md = std::strcmp(name, "MD5") == 0 ? md5.get() : sha256.get();
    if (!md) throw std::runtime_error(std::string("OpenSSL has no ") + name);
    return md;
}

const EVP_CIPHER* Aes(DbCipher cipher) {
    static const std::unique_ptr<EVP_CIPHER, CipherDeleter> aes128(EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr));
    static const std::unique_ptr<EVP_CIPHER, CipherDeleter> aes256(EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr));
    const EVP_CIPHER* aes = cipher == DbCipher::Aes256 ? aes256.get() : aes128.get();
    if (!aes) throw std::runtime_error("OpenSSL has no AES-CBC");
    return aes;
}

void Digest(const char* name, const unsigned char* data, size_t length, unsigned char* out) {
    if (!EVP_Digest(data, length, out, nullptr, Md(name), nullptr)) throw std::runtime_error("digest failed");
}

void Rc4(const unsigned char* key, int keyLength, unsigned char* data, int length) {
    unsigned char state[256];
    for (int i = 0; i < 256; ++i) state[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + key[i % keyLength]) & 0xff;
        std::swap(state[i], state[j]);
    }
    for (int n = 0, a = 0, b = 0; n < length; ++n) {
        a = (a + 1) & 0xff;
        b = (b + state[a]) & 0xff;
        std::swap(state[a], state[b]);
        data[n] ^= state[(state[a] + state[b]) & 0xff];
    }
}

void PadPassphrase(const std::string& passphrase, unsigned char out[32]) {
    const size_t taken = passphrase.size() < 32 ? passphrase.size() : 32;
    std::memcpy(out, passphrase.data(), taken);
    std::memcpy(out + taken, kPadding, 32 - taken);
}

void DeriveAes256(const std::string& passphrase, unsigned char key[32]) {
    unsigned char padded[32];
    PadPassphrase(passphrase, padded);
    Digest("SHA256", padded, 32, key);
    for (int i = 0; i < kSha256Rounds; ++i) Digest("SHA256", key, 32, key);
    OPENSSL_cleanse(padded, sizeof padded);
}

// The owner/user key scheme of the PDF standard security handler with an
// empty owner password.
void DeriveAes128(const std::string& passphrase, unsigned char key[16]) {
    unsigned char userPad[32], ownerPad[32], digest[16];
    PadPassphrase(passphrase, userPad);
    PadPassphrase(std::string(), ownerPad);
    Digest("MD5", ownerPad, 32, digest);
    for (int i = 0; i < kMd5Rounds; ++i) Digest("MD5", digest, 16, digest);
    unsigned char ownerKey[32];
    std::memcpy(ownerKey, userPad, 32);
    for (int round = 0; round < 20; ++round) {
        unsigned char roundKey[16];
        for (int j = 0; j < 16; ++j) roundKey[j] = static_cast<unsigned char>(digest[j] ^ round);
        Rc4(roundKey, 16, ownerKey, 32);
    }
    unsigned char both[64];
    std::memcpy(both, userPad, 32);
    std::memcpy(both + 32, ownerKey, 32);
    Digest("MD5", both, 64, digest);
    for (int i = 0; i < kMd5Rounds; ++i) Digest("MD5", digest, 16, digest);
    std::memcpy(key, digest, 16);
    OPENSSL_cleanse(userPad, sizeof userPad);
    OPENSSL_cleanse(both, sizeof both);
}

// Four steps of the Park-Miller generator (Schrage's method) seeded with the
// page number, hashed.
void PageIv(uint32_t page, unsigned char iv[16]) {
    unsigned char seed[16];
    long long z = static_cast<long long>(page) + 1;
    for (int j = 0; j < 4; ++j) {
        const long long q = z / 52774;
        z = 40692 * (z - 52774 * q) - 3791 * q;
        if (z < 0) z += 2147483399LL;
        for (int b = 0; b < 4; ++b) seed[4 * j + b] = static_cast<unsigned char>((z >> (8 * b)) & 0xff);
    }
    Digest("MD5", seed, 16, iv);
}

EVP_CIPHER_CTX* ThreadContext() {
    thread_local std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx) throw std::runtime_error("out of memory");
    return ctx.get();
}

}  // namespace

CPageCipher::CPageCipher(const CDatabaseKey& key)
    : m_cipher(key.Cipher()), m_keyLength(key.Cipher() == DbCipher::Aes256 ? 32 : 16) {
    if (!key.IsSet()) throw std::invalid_argument("no cipher");
    if (m_cipher == DbCipher::Aes256)
        DeriveAes256(key.Passphrase(), m_key);
    else
        DeriveAes128(key.Passphrase(), m_key);
}

CPageCipher::~CPageCipher() { OPENSSL_cleanse(m_key, sizeof m_key); }

void CPageCipher::Cbc(bool encrypt, uint32_t page, const unsigned char* in, int length, unsigned char* out) const {
    unsigned char material[40], pageKey[32], iv[16];
    std::memcpy(material, m_key, m_keyLength);
    for (int b = 0; b < 4; ++b) material[m_keyLength + b] = static_cast<unsigned char>((page >> (8 * b)) & 0xff);
    std::memcpy(material + m_keyLength + 4, "sAlT", 4);
    Digest(m_cipher == DbCipher::Aes256 ? "SHA256" : "MD5", material, m_keyLength + 8, pageKey);
    PageIv(page, iv);
    EVP_CIPHER_CTX* ctx = ThreadContext();
    int written = 0;
    if (!EVP_CipherInit_ex2(ctx, Aes(m_cipher), pageKey, iv, encrypt ? 1 : 0, nullptr) ||
        !EVP_CIPHER_CTX_set_padding(ctx, 0) || !EVP_CipherUpdate(ctx, out, &written, in, length) ||
        written != length)
        throw std::runtime_error("AES failed");
    OPENSSL_cleanse(material, sizeof material);
    OPENSSL_cleanse(pageKey, sizeof pageKey);
}

int CPageCipher::PageSizeField(const unsigned char* field) {
    const int value = (field[0] << 8) | field[1];
    const int size = value == 1 ? 65536 : value;
    return size >= 512 && (size & (size - 1)) == 0 ? size : 0;
}

bool CPageCipher::IsPlainHeaderPart(const unsigned char* bytes) {
    return PageSizeField(bytes) != 0 && bytes[5] == 64 && bytes[6] == 32 && bytes[7] == 32;
}

void CPageCipher::Encrypt(uint32_t page, unsigned char* data, int length, bool wholeFirstPage) const {
    if (page != 1 || wholeFirstPage) {
        Cbc(true, page, data, length, data);
        return;
    }
    // Bytes 0..15 are the fixed file header, so their cipher text is not
    // needed back: its second half makes room for that of bytes 16..23.
    unsigned char plain[8];
    std::memcpy(plain, data + 16, 8);
    Cbc(true, page, data, 16, data);
    Cbc(true, page, data + 16, length - 16, data + 16);
    std::memcpy(data + 8, data + 16, 8);
    std::memcpy(data + 16, plain, 8);
}

bool CPageCipher::Decrypt(uint32_t page, unsigned char* data, int length) const {
    if (page != 1) {
        Cbc(false, page, data, length, data);
        return true;
    }
    if (IsPlainHeaderPart(data + 16)) {
        unsigned char plain[8];
        std::memcpy(plain, data + 16, 8);
        std::memcpy(data + 16, data + 8, 8);
        Cbc(false, page, data + 16, length - 16, data + 16);
        if (std::memcmp(plain, data + 16, 8) == 0) {
            std::memcpy(data, kFileHeader, 16);
            return true;
        }
        // Not this form with this key; perhaps the whole page is encrypted.
        std::memcpy(data + 16, data + 8, 8);
        Cbc(true, page, data + 16, length - 16, data + 16);
        std::memcpy(data + 16, plain, 8);
    }
    Cbc(false, page, data, length, data);
    return std::memcmp(data, kFileHeader, 16) == 0 && PageSizeField(data + 16) != 0;
}

bool CPageCipher::Probe(const unsigned char head[32], bool& wholeFirstPage, int& pageSize) const {
    unsigned char block[32];
    if (IsPlainHeaderPart(head + 16)) {
        std::memcpy(block, head + 8, 8);
        std::memcpy(block + 8, head + 24, 8);
        Cbc(false, 1, block, 16, block);
        if (std::memcmp(block, head + 16, 8) == 0) {
            wholeFirstPage = false;
            pageSize = PageSizeField(head + 16);
            return true;
        }
    }
    Cbc(false, 1, head, 32, block);
    if (std::memcmp(block, kFileHeader, 16) != 0 || PageSizeField(block + 16) == 0) return false;
    wholeFirstPage = true;
    pageSize = PageSizeField(block + 16);
    return true;
}

}  // namespace KvoCore
