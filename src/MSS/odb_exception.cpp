#include "MSS/odb_exception.hpp"

#include "MSS/ole_com_ptr.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

namespace {
// Owns a BSTR handed out by a provider.
class bstr_holder {
public:
    bstr_holder() = default;
    ~bstr_holder() { SysFreeString(m_text); }
    bstr_holder(const bstr_holder&) = delete;
    bstr_holder& operator=(const bstr_holder&) = delete;
    BSTR* put() {
        SysFreeString(m_text);
        m_text = nullptr;
        return &m_text;
    }
    bool empty() const { return m_text == nullptr; }
    std::u16string text() const {
        return m_text ? std::u16string(m_text, SysStringLen(m_text)) : std::u16string();
    }

private:
    BSTR m_text = nullptr;
};
} // namespace

void odb_raise(HRESULT hr) {
    TK_TRACE(2, "Error code: %08X", static_cast<unsigned>(hr));
    throw odb_exception(hr);
}

odb_exception::odb_exception(HRESULT hr) : tk_exception(0) {
    TK_TRACE(1, "odb_exception::odb_exception(%08X)", static_cast<unsigned>(hr));
    m_code = 0x80000 | (static_cast<unsigned>(hr) & 0xFFFF);

    ole_com_ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) {
        TK_TRACE(2, "dump_error: GetErrorInfo failed");
        return;
    }
    ole_com_ptr<IErrorRecords> records;
    if (FAILED(info.query(IID_IErrorRecords, records)) || !records) {
        error_info_dispatcher dispatcher(info.get());
        m_message = tk_to_ansi_lossy(dispatcher.description);
        m_source = dispatcher.source;
        return;
    }
    TK_TRACE(2, "Got IErrorRecords");
    extract_from_records2(records.get());
}

void odb_exception::extract_from_records2(IErrorRecords* records) {
    TK_TRACE(2, "odb_exception::extract_from_records2(%d)", 1);
    m_message.clear();
    ULONG count = 0;
    if (FAILED(records->GetRecordCount(&count))) count = 0;
    TK_TRACE(1, "Got %d record(s)", static_cast<int>(count));
    for (ULONG i = 0; i < count; ++i) {
        ERRORINFO basic{};
        if (SUCCEEDED(records->GetBasicErrorInfo(i, &basic)))
            TK_TRACE(3, "HRESULT:\t0x%08X", static_cast<unsigned>(basic.hrError));

        ole_com_ptr<ISQLErrorInfo> sql;
        if (SUCCEEDED(records->GetCustomErrorObject(i, IID_ISQLErrorInfo, sql.put_unknown())) && sql) {
            bstr_holder state;
            LONG native = 0;
            if (SUCCEEDED(sql->GetSQLInfo(state.put(), &native))) {
                if (m_sqlstate.empty()) {
                    m_sqlstate = state.text();
                    m_native = static_cast<long>(native);
                }
                std::string narrow;
                TK_ASSERT(tk_to_ansi(state.text(), narrow), "odb_exception.cpp");
                TK_TRACE(3, "SQLSTATE:\t%s", narrow.c_str());
                TK_TRACE(3, "Native Error:\t%ld", static_cast<long>(native));
            }
        }

        ole_com_ptr<IErrorInfo> info;
        if (SUCCEEDED(records->GetErrorInfo(i, GetUserDefaultLCID(), info.put())) && info) {
            error_info_dispatcher dispatcher(info.get());
            m_message = tk_to_ansi_lossy(dispatcher.description);
            m_source = dispatcher.source;
            TK_TRACE(1, "Process %d record: msg=%s, source=%s", static_cast<int>(i), m_message.c_str(),
                     tk_to_ansi_lossy(m_source).c_str());
            if (!m_message.empty()) break;
        }
    }
}

odb_exception::error_info_dispatcher::error_info_dispatcher(IErrorInfo* info) {
    TK_TRACE(1, "odb_exception::error_info_dispatcher::ctor");
    bstr_holder src;
    bstr_holder desc;
    info->GetSource(src.put());
    info->GetDescription(desc.put());
    if (!src.empty()) {
        source = src.text();
        TK_TRACE(1, "Processing source");
        TK_WTRACE(3, u"Source:\t\t%s\n", source.c_str());
    }
    if (!desc.empty()) {
        description = desc.text();
        TK_TRACE(1, "Processing description");
        TK_WTRACE(3, u"Error message:\t%s", description.c_str());
    }
}
