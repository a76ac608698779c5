#pragma once

#include "MSS/odb_oledb.hpp"

#include <atomic>

// The reference count of a provider object. An object starts with one reference, owned by the
// code that created it, and deletes itself when the last one goes.
class odb_com_object {
public:
    odb_com_object(const odb_com_object&) = delete;
    odb_com_object& operator=(const odb_com_object&) = delete;

protected:
    odb_com_object() = default;
    virtual ~odb_com_object() = default;

    ULONG add_ref() noexcept { return ++m_refs; }
    ULONG release_ref() noexcept {
        ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    // Hands out `iface` (already cast to the requested interface) with a new reference.
    template <class I> HRESULT hand_out(I* iface, void** object) noexcept {
        *object = iface;
        add_ref();
        return S_OK;
    }

private:
    std::atomic<ULONG> m_refs{1};
};

// The usual three methods for a class deriving from odb_com_object and its interfaces.
#define ODB_COM_REFCOUNT                                                                                     \
    ULONG AddRef() override {                                                                                \
        return add_ref();                                                                                    \
    }                                                                                                        \
    ULONG Release() override {                                                                               \
        return release_ref();                                                                                \
    }
