#include "MSS/odb_error_object.hpp"

#include "MSS/odb_com_object.hpp"

namespace {

BSTR copy_text(const std::u16string& text) {
    if (text.empty()) return nullptr;
    return SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
}

class text_info final : public odb_com_object, public IErrorInfo {
public:
    text_info(std::u16string source, std::u16string description)
        : m_source(std::move(source)), m_description(std::move(description)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            return hand_out(static_cast<IErrorInfo*>(this), object);
        return E_NOINTERFACE;
    }
    HRESULT GetSource(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = copy_text(m_source);
        return S_OK;
    }
    HRESULT GetDescription(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = copy_text(m_description);
        return S_OK;
    }

private:
    std::u16string m_source;
    std::u16string m_description;
};

class sql_info final : public odb_com_object, public ISQLErrorInfo {
public:
    sql_info(std::u16string sqlstate, LONG native) : m_sqlstate(std::move(sqlstate)), m_native(native) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_ISQLErrorInfo)
            return hand_out(static_cast<ISQLErrorInfo*>(this), object);
        return E_NOINTERFACE;
    }
    HRESULT GetSQLInfo(BSTR* state, LONG* native) override {
        if (!state || !native) return E_POINTER;
        *state = copy_text(m_sqlstate);
        *native = m_native;
        return S_OK;
    }

private:
    std::u16string m_sqlstate;
    LONG m_native;
};

class record_list final : public odb_com_object, public IErrorInfo, public IErrorRecords {
public:
    explicit record_list(std::vector<odb_error_record> records) : m_records(std::move(records)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            return hand_out(static_cast<IErrorInfo*>(this), object);
        if (riid == IID_IErrorRecords) return hand_out(static_cast<IErrorRecords*>(this), object);
        return E_NOINTERFACE;
    }
    HRESULT GetSource(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = m_records.empty() ? nullptr : copy_text(m_records.front().source);
        return S_OK;
    }
    HRESULT GetDescription(BSTR* out) override {
        if (!out) return E_POINTER;
        *out = m_records.empty() ? nullptr : copy_text(m_records.front().description);
        return S_OK;
    }
    HRESULT GetRecordCount(ULONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(m_records.size());
        return S_OK;
    }
    HRESULT GetBasicErrorInfo(ULONG i, ERRORINFO* info) override {
        if (!info) return E_POINTER;
        if (i >= m_records.size()) return DB_E_BADACCESSORHANDLE;
        *info = ERRORINFO{m_records[i].result, 0, IID_NULL, IID_NULL, 0};
        return S_OK;
    }
    HRESULT GetCustomErrorObject(ULONG i, REFIID riid, IUnknown** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (i >= m_records.size()) return E_INVALIDARG;
        if (m_records[i].sqlstate.empty()) return S_OK;
        auto* info = new sql_info(m_records[i].sqlstate, m_records[i].native_error);
        HRESULT hr = info->QueryInterface(riid, reinterpret_cast<void**>(object));
        info->Release();
        return hr;
    }
    HRESULT GetErrorInfo(ULONG i, LCID, IErrorInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (i >= m_records.size()) return E_INVALIDARG;
        *info = new text_info(m_records[i].source, m_records[i].description);
        return S_OK;
    }

private:
    std::vector<odb_error_record> m_records;
};

} // namespace

void odb_post_error(const std::vector<odb_error_record>& records) {
    // Provider side: plain references, so that the consumer's reference trace shows only its own.
    auto* info = new record_list(records);
    SetErrorInfo(0, info);
    info->Release();
}

void odb_post_error_info(const std::u16string& source, const std::u16string& description) {
    auto* info = new text_info(source, description);
    SetErrorInfo(0, info);
    info->Release();
}

void odb_clear_error() {
    SetErrorInfo(0, nullptr);
}
