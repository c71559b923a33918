#include "core/StreamCipher.h"

#include <memory>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace KvoCore {

CStreamCipher::CStreamCipher() {
    if (RAND_bytes(m_key, sizeof m_key) != 1) throw std::runtime_error("no randomness for a temporary key");
}

CStreamCipher::~CStreamCipher() { OPENSSL_cleanse(m_key, sizeof m_key); }

void CStreamCipher::Apply(uint64_t offset, unsigned char* data, size_t length) const {
    struct CtxDeleter {
        void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
    };
    thread_local std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    unsigned char counter[16] = {0};
    const uint64_t block = offset / 16;
    for (int i = 0; i < 8; ++i) counter[15 - i] = static_cast<unsigned char>(block >> (8 * i));
    // The key stream of a range that starts inside a block begins that far into it.
    unsigned char skipped[16] = {0};
    int n = 0;
    const int skip = static_cast<int>(offset % 16);
    if (!ctx || !EVP_EncryptInit_ex2(ctx.get(), EVP_aes_256_ctr(), m_key, counter, nullptr) ||
        (skip != 0 && !EVP_EncryptUpdate(ctx.get(), skipped, &n, skipped, skip)) ||
        !EVP_EncryptUpdate(ctx.get(), data, &n, data, static_cast<int>(length)))
        throw std::runtime_error("AES-CTR failed");
}

}  // namespace KvoCore
