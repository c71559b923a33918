// CContentDigests: the digests that one pass over a file's content feeds, so
// that the content is read once however many digests its sets ask for.
//
// Thread safety: an object belongs to the thread that feeds it.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace KvoPluginIm {

// Which digests are wanted.
struct DigestRequest {
    bool md5 = false, sha1 = false, sha256 = false;
    bool Any() const { return md5 || sha1 || sha256; }
    bool Covers(const DigestRequest& other) const {
        return (md5 || !other.md5) && (sha1 || !other.sha1) && (sha256 || !other.sha256);
    }
    void Add(const DigestRequest& other) {
        md5 = md5 || other.md5;
        sha1 = sha1 || other.sha1;
        sha256 = sha256 || other.sha256;
    }
};

class CContentDigests {
public:
    explicit CContentDigests(const DigestRequest& request);
    void Update(const void* data, size_t length);
    // The raw digest of each requested kind goes to its output, empty when
    // that digest could not be made; the outputs of kinds not asked for stay.
    void Finish(std::string& md5, std::string& sha1, std::string& sha256);
    // Each requested kind's output emptied: the content was not read whole.
    void Abandon(std::string& md5, std::string& sha1, std::string& sha256) const;

private:
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    // Per kind (md5, sha1, sha256): null when not requested or not available.
    std::unique_ptr<EVP_MD_CTX, ContextFree> m_contexts[3];
    DigestRequest m_request;
};

}  // namespace KvoPluginIm
