// The SDK's map-like object lists: walked in list order with begin/end, and looked up by entry key.
#pragma once

#include "sdk/CallSite.h"
#include "sdk/SdkExceptions.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace sdk {

// Each entry is (key, object). The key is the object's identifier within its list; the object belongs to the
// SDK. Lists are called from the host's side, one call at a time; a refresh replaces the entries, so no iterator
// survives it. (A stream's buffer list also loses a buffer that is destroyed while announced; the stream guards
// that change.) The walk ("...::begin") and the lookup ("...::operator[]") pass the owner's call gate.
template <typename T>
class ObjectList {
public:
    using Entry = std::pair<std::string, T*>;
    using iterator = typename std::vector<Entry>::iterator;

    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;
    virtual ~ObjectList() = default;

    iterator begin() {
        m_site.pass(m_beginCall);
        return m_entries.begin();
    }
    iterator end() noexcept { return m_entries.end(); }
    [[nodiscard]] std::size_t size() const noexcept { return m_entries.size(); }

    // The object listed under `key`; an unknown key is an SDK error.
    T* operator[](const std::string& key) {
        m_site.pass(m_lookupCall, key);
        for (const Entry& entry : m_entries) {
            if (entry.first == key) {
                return entry.second;
            }
        }
        Exceptions::raise("NotFoundException", m_lookupCall, "no entry with the key '" + key + "'");
    }

protected:
    // `site` is the owner's (it outlives the list); the call names are static texts.
    ObjectList(const CallSite& site, const char* beginCall, const char* lookupCall) noexcept
        : m_site(site), m_beginCall(beginCall), m_lookupCall(lookupCall) {}

    [[nodiscard]] const CallSite& site() const noexcept { return m_site; }

    // Filled by the producer in its refresh.
    std::vector<Entry> m_entries;

private:
    const CallSite& m_site;
    const char* m_beginCall;
    const char* m_lookupCall;
};

} // namespace sdk
