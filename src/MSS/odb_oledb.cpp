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
