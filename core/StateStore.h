// CStateStore: the agent's store of typed values under narrow keys.
//
// A key holds one value of one type: bool, 64-bit integer, string or light
// pointer. A Get of another type finds nothing. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <variant>

namespace KvoCore {

class CStateStore {
public:
    CStateStore() = default;
    CStateStore(const CStateStore&) = delete;
    CStateStore& operator=(const CStateStore&) = delete;

    bool Get(const std::string& key, bool& value) const;
    bool Get(const std::string& key, long long& value) const;
    bool Get(const std::string& key, std::string& value) const;
    bool Get(const std::string& key, void*& value) const;
    bool Has(const std::string& key) const;

    void Set(const std::string& key, bool value);
    void Set(const std::string& key, long long value);
    void Set(const std::string& key, const std::string& value);
    void SetPointer(const std::string& key, void* value);
    void SetNil(const std::string& key);
    // Sets the bool and returns the previous one (false when absent or not a bool).
    bool TestAndSet(const std::string& key, bool value);

    // "true"/"false" give a bool, an optional sign and digits a 64-bit
    // integer, anything else a string (the --set KEY=VALUE rule).
    void SetFromText(const std::string& key, const std::string& text);

private:
    using Value = std::variant<bool, long long, std::string, void*>;
    template <typename T>
    bool GetAs(const std::string& key, T& value) const;

    mutable std::mutex m_lock;
    std::map<std::string, Value> m_values;
};

}  // namespace KvoCore
