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

void odb_numeric_text(const DB_NUMERIC& value, std::u16string& out) {
    // The magnitude in base 10^9 pieces, most significant last.
    std::uint32_t words[4];
    for (int i = 0; i < 4; ++i)
        words[i] = std::uint32_t(value.val[4 * i]) | std::uint32_t(value.val[4 * i + 1]) << 8 |
                   std::uint32_t(value.val[4 * i + 2]) << 16 | std::uint32_t(value.val[4 * i + 3]) << 24;
    char digits[48];
    int count = 0;
    for (;;) {
        std::uint64_t rest = 0;
        bool zero = true;
        for (int i = 3; i >= 0; --i) {
            std::uint64_t part = rest << 32 | words[i];
            words[i] = std::uint32_t(part / 1000000000u);
            rest = part % 1000000000u;
            zero &= words[i] == 0;
        }
        for (int i = 0; i < 9; ++i, rest /= 10) digits[count++] = char('0' + rest % 10);
        if (zero) break;
    }
    while (count > 1 && digits[count - 1] == '0') --count;
    const int scale = value.scale < 38 ? value.scale : 38; // the server's largest
    while (count <= scale) digits[count++] = '0';
    out.clear();
    if (value.sign == 0) out.push_back(u'-');
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(char16_t(digits[i]));
        if (i == scale && scale > 0) out.push_back(u'.');
    }
}

void odb_money_text(std::int64_t value, std::u16string& out) {
    std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    char16_t text[24];
    char16_t* end = text + sizeof text / sizeof text[0];
    char16_t* p = end;
    for (int i = 0; i < 4; ++i, magnitude /= 10) *--p = char16_t(u'0' + magnitude % 10);
    *--p = u'.';
    do {
        *--p = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--p = u'-';
    out.assign(p, end);
}
