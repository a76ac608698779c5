#pragma once

#include "MSS/odb_oledb.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

#include <type_traits>
#include <utility>

// Holds one interface reference and releases it when it goes away. Using an empty holder is a
// programming error.
template <class T> class ole_com_ptr {
public:
    ole_com_ptr() noexcept = default;
    // Takes over a reference the caller owns.
    explicit ole_com_ptr(T* p) noexcept : m_p(p) {}
    ole_com_ptr(const ole_com_ptr& other) noexcept : m_p(other.m_p) {
        if (m_p) m_p->AddRef();
    }
    ole_com_ptr(ole_com_ptr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ole_com_ptr& operator=(ole_com_ptr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ole_com_ptr() { release(); }

    T* operator->() const {
        TK_ASSERT(m_p != nullptr, "ole_com_ptr.hpp");
        return m_p;
    }
    T& operator*() const {
        TK_ASSERT(m_p != nullptr, "ole_com_ptr.hpp");
        return *m_p;
    }
    T* get() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // Out parameters of provider calls: the old reference is released first.
    T** put() noexcept {
        release();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    IUnknown** put_unknown() noexcept {
        static_assert(std::is_base_of_v<IUnknown, T>);
        release();
        return reinterpret_cast<IUnknown**>(&m_p);
    }

    // Another interface of the same object; the provider's result is returned unchecked.
    template <class U> HRESULT query(REFIID riid, ole_com_ptr<U>& out) const {
        TK_ASSERT(m_p != nullptr, "ole_com_ptr.hpp");
        return m_p->QueryInterface(riid, out.put_void());
    }

    void reset() noexcept { release(); }
    T* detach() noexcept { return std::exchange(m_p, nullptr); }

private:
    void release() noexcept {
        if (!m_p) return;
        ULONG left = std::exchange(m_p, nullptr)->Release();
        TK_TRACE(1, "ole_com_ptr<T>::~ole_com_ptr() - %d refs left", static_cast<int>(left));
    }

    T* m_p = nullptr;
};
