// A GenTL call made with a deadline: the producer is called on a thread of its own, and the caller waits at most
// the deadline for it. A producer that does not return in time is never called again (GentlLibrary::usable), and
// its stuck thread is left to it.
//
// What the producer writes must never land in memory its abandoned caller has given up: every pointer argument
// is shadowed by memory of the call's own (copied in before the call, and back only when the call returned in
// time). A buffer is an untyped or character pointer followed by its size (a pointer to it: in and out; a
// constant buffer followed by a size: in only); other typed pointers are single values; untyped pointers
// followed by anything else are handles or memory the producer keeps (an announced buffer), passed as they are.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace sdk::gentl::call {

struct NoArg {}; // what follows the last argument

// A plain value (handle, number, code, the producer's own memory): passed as it is.
template <typename A, typename Next>
class Shadow {
public:
    Shadow(A value, const Next& /*next*/) : m_value(value) {}
    [[nodiscard]] A get() const noexcept { return m_value; }
    void copyBack() const noexcept {}

private:
    A m_value;
};

// A single value the producer reads and writes (a count, a handle to be, a size, a type).
template <typename T, typename Next>
class Shadow<T*, Next> {
    static_assert(!std::is_same_v<std::remove_cv_t<T>, char> && !std::is_void_v<T>,
                  "a text or buffer argument must be followed by its size");

public:
    Shadow(T* target, const Next& /*next*/) : m_target(target) {
        if (target != nullptr) {
            m_copy = std::make_unique<std::remove_cv_t<T>>(*target);
        }
    }
    [[nodiscard]] T* get() const noexcept { return m_copy.get(); }
    void copyBack() const noexcept {
        if (m_target != nullptr) {
            *m_target = *m_copy;
        }
    }

private:
    T* m_target;
    std::unique_ptr<std::remove_cv_t<T>> m_copy;
};

// Untyped pointers not followed by a size: handles, private pointers, memory the producer keeps.
template <typename Next>
class Shadow<void*, Next> {
public:
    Shadow(void* value, const Next& /*next*/) : m_value(value) {}
    [[nodiscard]] void* get() const noexcept { return m_value; }
    void copyBack() const noexcept {}

private:
    void* m_value;
};

// An output buffer and the pointer to its size: as many bytes as the size says, copied in and back.
template <typename Byte>
class OutBuffer {
public:
    OutBuffer(Byte* target, const size_t* size) : m_target(target) {
        if (target != nullptr && size != nullptr) {
            m_copy.assign(reinterpret_cast<const char*>(target),          // NOLINT: bytes of the caller's buffer
                          reinterpret_cast<const char*>(target) + *size); // NOLINT
        }
    }
    [[nodiscard]] Byte* get() noexcept {
        return m_target != nullptr ? reinterpret_cast<Byte*>(m_copy.data()) : nullptr;
    } // NOLINT
    void copyBack() const noexcept {
        if (m_target != nullptr && !m_copy.empty()) {
            std::memcpy(m_target, m_copy.data(), m_copy.size());
        }
    }

private:
    Byte* m_target;
    std::vector<char> m_copy;
};

template <>
class Shadow<void*, size_t*> : public OutBuffer<void> {
public:
    Shadow(void* target, const size_t* size) : OutBuffer(target, size) {}
};

template <>
class Shadow<char*, size_t*> : public OutBuffer<char> {
public:
    Shadow(char* target, const size_t* size) : OutBuffer(target, size) {}
};

// An input buffer: a copy of as many bytes as its size (or the pointer to it) says.
class InBuffer {
public:
    InBuffer(const void* source, size_t size) : m_null(source == nullptr) {
        if (source != nullptr) {
            m_copy.assign(static_cast<const char*>(source), static_cast<const char*>(source) + size);
        }
    }
    [[nodiscard]] const void* get() const noexcept { return m_null ? nullptr : m_copy.data(); }
    void copyBack() const noexcept {}

private:
    bool m_null;
    std::vector<char> m_copy;
};

template <>
class Shadow<const void*, size_t*> : public InBuffer {
public:
    Shadow(const void* source, const size_t* size) : InBuffer(source, size != nullptr ? *size : 0) {}
};

template <>
class Shadow<const void*, size_t> : public InBuffer {
public:
    Shadow(const void* source, size_t size) : InBuffer(source, size) {}
};

// A zero-terminated text the producer reads (an ID).
template <typename Next>
class Shadow<const char*, Next> {
public:
    Shadow(const char* text, const Next& /*next*/) : m_null(text == nullptr), m_copy(text != nullptr ? text : "") {}
    [[nodiscard]] const char* get() const noexcept { return m_null ? nullptr : m_copy.c_str(); }
    void copyBack() const noexcept {}

private:
    bool m_null;
    std::string m_copy;
};

// Every argument of one call, shadowed; made on the caller's thread, used by the producer's.
template <typename... A>
class Arguments {
public:
    explicit Arguments(A... args)
        : Arguments(std::index_sequence_for<A...>{}, std::tuple<A..., NoArg>(args..., NoArg{})) {}

    template <typename Function>
    auto apply(Function function) {
        return std::apply([&](auto&... shadow) { return function(shadow.get()...); }, m_shadows);
    }
    void copyBack() const noexcept {
        std::apply([](const auto&... shadow) { (shadow.copyBack(), ...); }, m_shadows);
    }

private:
    using All = std::tuple<A..., NoArg>;
    template <size_t I>
    using ShadowAt = Shadow<std::tuple_element_t<I, All>, std::tuple_element_t<I + 1, All>>;

    template <size_t... I>
    Arguments(std::index_sequence<I...> /*indices*/, const All& all)
        : m_shadows(ShadowAt<I>(std::get<I>(all), std::get<I + 1>(all))...) {}

    template <size_t... I>
    static auto shadowsOf(std::index_sequence<I...>) -> std::tuple<ShadowAt<I>...>;
    decltype(shadowsOf(std::index_sequence_for<A...>{})) m_shadows;
};

} // namespace sdk::gentl::call
