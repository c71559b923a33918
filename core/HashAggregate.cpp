#include "core/HashAggregate.h"

#include <openssl/evp.h>

namespace KvoCore {

namespace {

// Per-group state. SQLite hands Finalize a zeroed block when no row was seen,
// so "rows == 0" is the only reliable sign of empty input.
struct HashState {
    EVP_MD_CTX* md;
    long long rows;
    bool failed;
};

const char* const kDigestNames[] = {"MD5", "SHA1", "SHA256"};

}  // namespace

CHashAggregate::CHashAggregate() {
    // Fetched once: an implicit fetch on every EVP_DigestInit_ex would cost a
    // provider lookup per entity hashed.
    for (int i = 0; i < kDigestCount; ++i) m_digests[i] = EVP_MD_fetch(nullptr, kDigestNames[i], nullptr);
}

CHashAggregate::~CHashAggregate() {
    for (EVP_MD* md : m_digests) EVP_MD_free(md);
}

const EVP_MD* CHashAggregate::DigestFor(const wxString& method) const {
    const wxString lower = method.Lower();
    int index;
    if (lower == "md5")
        index = kMd5;
    else if (lower == "sha1")
        index = kSha1;
    else if (lower == "sha256")
        index = kSha256;
    else
        return nullptr;
    return m_digests[index];
}

void CHashAggregate::Aggregate(wxSQLite3FunctionContext& ctx) {
    auto* state = static_cast<HashState*>(ctx.GetAggregateStruct(sizeof(HashState)));
    if (state == nullptr) {
        ctx.SetResultError("HASH: out of memory");
        return;
    }
    if (state->failed) return;
    if (ctx.GetArgCount() != 2) {
        state->failed = true;
        ctx.SetResultError("HASH takes two arguments: value and method");
        return;
    }
    if (state->md == nullptr) {
        const wxString method = ctx.GetString(1);
        const EVP_MD* digest = ctx.IsNull(1) ? nullptr : DigestFor(method);
        if (digest == nullptr) {
            state->failed = true;
            ctx.SetResultError(wxString::Format("HASH: unknown digest method '%s' (use md5, sha1 or sha256)",
                                                ctx.IsNull(1) ? wxString("NULL") : method));
            return;
        }
        state->md = EVP_MD_CTX_new();
        if (state->md == nullptr || EVP_DigestInit_ex(state->md, digest, nullptr) != 1) {
            state->failed = true;
            ctx.SetResultError("HASH: cannot initialise the digest");
            return;
        }
    }

    unsigned char frame[9];
    size_t frameLength;
    m_value.SetDataLen(0);
    if (ctx.IsNull(0)) {
        frame[0] = 'N';
        frameLength = 1;
    } else {
        ctx.GetBlob(0, m_value);
        const unsigned long long length = m_value.GetDataLen();
        frame[0] = 'V';
        for (int i = 0; i < 8; ++i) frame[1 + i] = static_cast<unsigned char>(length >> (8 * (7 - i)));
        frameLength = sizeof frame;
    }
    if (EVP_DigestUpdate(state->md, frame, frameLength) != 1 ||
        (m_value.GetDataLen() > 0 && EVP_DigestUpdate(state->md, m_value.GetData(), m_value.GetDataLen()) != 1)) {
        state->failed = true;
        ctx.SetResultError("HASH: digest update failed");
        return;
    }
    ++state->rows;
}

void CHashAggregate::Finalize(wxSQLite3FunctionContext& ctx) {
    auto* state = static_cast<HashState*>(ctx.GetAggregateStruct(sizeof(HashState)));
    if (state == nullptr) {
        ctx.SetResultError("HASH: out of memory");
        return;
    }
    if (state->failed) {
        // The error was reported by the step; only the context is left to free.
        EVP_MD_CTX_free(state->md);
        state->md = nullptr;
        ctx.SetResultError("HASH failed");
        return;
    }
    if (state->rows == 0 || state->md == nullptr) {
        EVP_MD_CTX_free(state->md);
        state->md = nullptr;
        ctx.SetResultNull();
        return;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = EVP_DigestFinal_ex(state->md, digest, &length) == 1;
    EVP_MD_CTX_free(state->md);
    state->md = nullptr;
    if (!ok) {
        ctx.SetResultError("HASH: digest final failed");
        return;
    }
    ctx.SetResult(digest, static_cast<int>(length));
}

}  // namespace KvoCore
