#include "MSS/odb_oledb.hpp"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<odb_class_factory*> g_factory{nullptr};

// The thread's error object, with the reference it holds.
struct thread_error {
    IErrorInfo* info = nullptr;
    ~thread_error() {
        if (info) info->Release();
    }
};
thread_local thread_error t_error;
} // namespace

odb_class_factory* odb_set_class_factory(odb_class_factory* factory) noexcept {
    return g_factory.exchange(factory);
}

void odb_cancel_running() {
    if (odb_class_factory* factory = odb_get_class_factory()) factory->cancel_running();
}

void odb_allow_running() {
    if (odb_class_factory* factory = odb_get_class_factory()) factory->allow_running();
}

odb_class_factory* odb_get_class_factory() noexcept {
    return g_factory.load();
}

// Providers here need no per-thread set-up; the calls stay so that the logic keeps its shape.
HRESULT CoInitializeEx(void*, DWORD) {
    return S_OK;
}

void CoUninitialize() {}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return E_NOTIMPL;
    odb_class_factory* factory = g_factory.load();
    if (!factory) return REGDB_E_CLASSNOTREG;
    return factory->create_instance(rclsid, riid, ppv);
}

void* CoTaskMemAlloc(std::size_t size) noexcept {
    return std::malloc(size ? size : 1);
}

void CoTaskMemFree(void* block) noexcept {
    std::free(block);
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** ppErrorInfo) {
    if (!ppErrorInfo) return E_POINTER;
    *ppErrorInfo = t_error.info;
    t_error.info = nullptr;
    return *ppErrorInfo ? S_OK : S_FALSE;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* pErrorInfo) {
    if (pErrorInfo) pErrorInfo->AddRef();
    IErrorInfo* old = t_error.info;
    t_error.info = pErrorInfo;
    if (old) old->Release();
    return S_OK;
}

LCID GetUserDefaultLCID() {
    return LOCALE_USER_DEFAULT;
}

void odb_timestamp_text(const DBTIMESTAMP& value, int digits, bool date_only, std::u16string& out) {
    char16_t text[32];
    char16_t* p = text;
    auto put = [&](unsigned long number, int count) {
        for (int i = count - 1; i >= 0; --i, number /= 10) p[i] = char16_t(u'0' + number % 10);
        p += count;
    };
    put(static_cast<std::uint16_t>(value.year), 4);
    *p++ = u'-';
    put(value.month, 2);
    *p++ = u'-';
    put(value.day, 2);
    if (!date_only) {
        *p++ = u' ';
        put(value.hour, 2);
        *p++ = u':';
        put(value.minute, 2);
        *p++ = u':';
        put(value.second, 2);
        if (digits > 0) {
            *p++ = u'.';
            unsigned long fraction = value.fraction;
            for (int i = digits; i < 9; ++i) fraction /= 10;
            put(fraction, digits);
        }
    }
    out.assign(text, p);
}
