#include "OLE/ole_auto.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

// Strings and arrays: the allocation primitives of the subset. A BSTR points at its first
// character; the byte length sits in the four bytes before it and a NUL follows the last one.

namespace {
constexpr std::size_t bstr_header = sizeof(std::uint32_t);

std::uint32_t* bstr_block(BSTR text) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(text) - bstr_header);
}
} // namespace

namespace {
constexpr std::uint32_t bstr_longest = (0xFFFFFFFFu - bstr_header) / sizeof(OLECHAR) - 1;

// Blocks come from malloc, so that a string read in pieces of unknown total grows with realloc,
// which moves the pages of a large block instead of copying them.
BSTR bstr_in(void* block, std::uint32_t length) {
    *static_cast<std::uint32_t*>(block) = length * sizeof(OLECHAR);
    BSTR out = reinterpret_cast<BSTR>(static_cast<char*>(block) + bstr_header);
    out[length] = 0;
    return out;
}

std::size_t bstr_bytes(std::uint32_t length) {
    return bstr_header + (std::size_t(length) + 1) * sizeof(OLECHAR);
}
} // namespace

BSTR ole_bstr_alloc(std::uint32_t length) {
    if (length > bstr_longest) return nullptr;
    void* block = std::malloc(bstr_bytes(length));
    return block ? bstr_in(block, length) : nullptr;
}

BSTR ole_bstr_resize(BSTR text, std::uint32_t length) {
    if (!text) return ole_bstr_alloc(length);
    if (length > bstr_longest) return nullptr;
    void* block = std::realloc(bstr_block(text), bstr_bytes(length));
    return block ? bstr_in(block, length) : nullptr;
}

SAFEARRAY* ole_byte_array(std::uint32_t count) {
    SAFEARRAY* array = new (std::nothrow) SAFEARRAY{};
    if (!array) return nullptr;
    array->cDims = 1;
    array->cbElements = 1;
    array->rgsabound[0] = {count, 0};
    if (count) {
        array->pvData = std::malloc(count);
        if (!array->pvData) {
            delete array;
            return nullptr;
        }
    }
    return array;
}

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
    BSTR out = ole_bstr_alloc(length);
    if (!out) return nullptr;
    if (text)
        std::memcpy(out, text, std::size_t(length) * sizeof(OLECHAR));
    else
        std::memset(out, 0, std::size_t(length) * sizeof(OLECHAR));
    return out;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    std::uint32_t length = 0;
    while (text[length]) ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text) std::free(bstr_block(text));
}

std::uint32_t SysStringLen(BSTR text) {
    return text ? *bstr_block(text) / sizeof(OLECHAR) : 0;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lower_bound, std::uint32_t count) {
    if (vt != VT_UI1) return nullptr;
    SAFEARRAY* array = ole_byte_array(count);
    if (!array) return nullptr;
    array->rgsabound[0].lLbound = lower_bound;
    if (count) std::memset(array->pvData, 0, count);
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    if (array->cLocks) return DISP_E_ARRAYISLOCKED;
    std::free(array->pvData);
    delete array;
    return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* array, SAFEARRAYBOUND* bound) {
    if (!array || !bound || array->cDims != 1) return E_INVALIDARG;
    if (array->cLocks) return DISP_E_ARRAYISLOCKED;
    std::uint32_t old_count = array->rgsabound[0].cElements;
    std::uint32_t count = bound->cElements;
    if (count != old_count) {
        if (count) {
            void* data = std::realloc(array->pvData, count);
            if (!data) return E_OUTOFMEMORY;
            if (count > old_count) std::memset(static_cast<char*>(data) + old_count, 0, count - old_count);
            array->pvData = data;
        } else {
            std::free(array->pvData);
            array->pvData = nullptr;
        }
    }
    array->rgsabound[0] = *bound;
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
    if (!copy) return E_INVALIDARG;
    *copy = nullptr;
    if (!array) return S_OK;
    if (array->cDims != 1 || array->cbElements != 1) return E_INVALIDARG;
    SAFEARRAY* out =
        SafeArrayCreateVector(VT_UI1, array->rgsabound[0].lLbound, array->rgsabound[0].cElements);
    if (!out) return E_OUTOFMEMORY;
    if (out->rgsabound[0].cElements) std::memcpy(out->pvData, array->pvData, out->rgsabound[0].cElements);
    *copy = out;
    return S_OK;
}

std::uint32_t SafeArrayGetDim(SAFEARRAY* array) {
    return array ? array->cDims : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim != 1 || array->cDims != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim != 1 || array->cDims != 1) return DISP_E_BADINDEX;
    *bound = static_cast<std::int32_t>(std::int64_t(array->rgsabound[0].lLbound) +
                                       std::int64_t(array->rgsabound[0].cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data) return E_INVALIDARG;
    ++array->cLocks;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (!array->cLocks) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

void VariantInit(VARIANT* value) {
    std::memset(static_cast<void*>(value), 0, sizeof *value);
    value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
    if (!value) return E_INVALIDARG;
    if (value->vt & VT_BYREF) {
        VariantInit(value);
        return S_OK;
    }
    if (value->vt & VT_ARRAY) {
        HRESULT hr = SafeArrayDestroy(value->parray);
        if (FAILED(hr)) return hr;
    } else if (value->vt == VT_BSTR) {
        SysFreeString(value->bstrVal);
    }
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
    if (!dest || !source) return E_INVALIDARG;
    if (dest == source) return S_OK;
    VARIANT copy = *source;
    if (!(source->vt & VT_BYREF)) {
        if (source->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        } else if (source->vt == VT_BSTR && source->bstrVal) {
            copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        }
    }
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}
