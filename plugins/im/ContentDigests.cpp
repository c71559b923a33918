#include "plugins/im/ContentDigests.h"

namespace KvoPluginIm {

CContentDigests::CContentDigests(const DigestRequest& request) : m_request(request) {
    const bool wanted[] = {request.md5, request.sha1, request.sha256};
    const EVP_MD* algorithms[] = {EVP_md5(), EVP_sha1(), EVP_sha256()};
    for (int kind = 0; kind < 3; ++kind) {
        if (!wanted[kind]) continue;
        m_contexts[kind].reset(EVP_MD_CTX_new());
        // Without this digest the others still go on; its output ends up empty.
        if (m_contexts[kind] && EVP_DigestInit_ex(m_contexts[kind].get(), algorithms[kind], nullptr) != 1)
            m_contexts[kind].reset();
    }
}

void CContentDigests::Update(const void* data, size_t length) {
    for (auto& context : m_contexts)
        if (context) EVP_DigestUpdate(context.get(), data, length);
}

void CContentDigests::Finish(std::string& md5, std::string& sha1, std::string& sha256) {
    std::string* outputs[] = {&md5, &sha1, &sha256};
    const bool wanted[] = {m_request.md5, m_request.sha1, m_request.sha256};
    for (int kind = 0; kind < 3; ++kind) {
        if (!wanted[kind]) continue;
        unsigned char bytes[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (m_contexts[kind] && EVP_DigestFinal_ex(m_contexts[kind].get(), bytes, &size) == 1)
            outputs[kind]->assign(reinterpret_cast<const char*>(bytes), size);
        else
            outputs[kind]->clear();
    }
}

void CContentDigests::Abandon(std::string& md5, std::string& sha1, std::string& sha256) const {
    if (m_request.md5) md5.clear();
    if (m_request.sha1) sha1.clear();
    if (m_request.sha256) sha256.clear();
}

}  // namespace KvoPluginIm
