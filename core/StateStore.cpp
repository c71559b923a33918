#include "core/StateStore.h"

#include <cctype>

namespace KvoCore {

template <typename T>
bool CStateStore::GetAs(const std::string& key, T& value) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_values.find(key);
    if (it == m_values.end()) return false;
    const T* held = std::get_if<T>(&it->second);
    if (!held) return false;
    value = *held;
    return true;
}

bool CStateStore::Get(const std::string& key, bool& value) const { return GetAs(key, value); }
bool CStateStore::Get(const std::string& key, long long& value) const { return GetAs(key, value); }
bool CStateStore::Get(const std::string& key, std::string& value) const { return GetAs(key, value); }
bool CStateStore::Get(const std::string& key, void*& value) const { return GetAs(key, value); }

bool CStateStore::Has(const std::string& key) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_values.count(key) != 0;
}

void CStateStore::Set(const std::string& key, bool value) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_values[key] = value;
}

void CStateStore::Set(const std::string& key, long long value) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_values[key] = value;
}

void CStateStore::Set(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_values[key] = value;
}

void CStateStore::SetPointer(const std::string& key, void* value) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_values[key] = value;
}

void CStateStore::SetNil(const std::string& key) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_values.erase(key);
}

bool CStateStore::TestAndSet(const std::string& key, bool value) {
    std::lock_guard<std::mutex> guard(m_lock);
    bool previous = false;
    auto it = m_values.find(key);
    if (it != m_values.end()) {
        if (const bool* held = std::get_if<bool>(&it->second)) previous = *held;
    }
    m_values[key] = value;
    return previous;
}

void CStateStore::SetFromText(const std::string& key, const std::string& text) {
    if (text == "true" || text == "false") {
        Set(key, text == "true");
        return;
    }
    size_t digits = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    bool numeric = text.size() > digits && text.size() - digits <= 19;
    for (size_t i = digits; numeric && i < text.size(); ++i)
        numeric = isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (numeric) {
        try {
            Set(key, static_cast<long long>(std::stoll(text)));
            return;
        } catch (const std::out_of_range&) {
            // Too large for 64 bits: keep it as text rather than lose digits.
        }
    }
    Set(key, text);
}

}  // namespace KvoCore
