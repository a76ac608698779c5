#pragma once

#include "MSS/odb_oledb.hpp"
#include "TK/tk_exception.hpp"

#include <string>

// A failed provider call: the code is 0x80000 with the low 16 bits of its result, the message the
// provider's description of the first error record that has one, the level always 0.
class odb_exception : public tk_exception {
public:
    // Reads the calling thread's current error object: build it before any other provider call.
    explicit odb_exception(HRESULT hr);

    const std::u16string& source() const noexcept { return m_source; }
    // The first error record's SQLSTATE; empty when none has one.
    const std::u16string& sqlstate() const noexcept { return m_sqlstate; }
    // The first error record's native error number; 0 when none has one.
    long native_error() const noexcept { return m_native; }
    // The connection to the server broke (the server went away, the network dropped): class 08,
    // or FreeTDS's own "Read from the server failed", "Write to the server failed" and
    // "Unexpected EOF from the server", which it reports as 01000 in the middle of a result.
    bool link_lost() const noexcept {
        return m_sqlstate.starts_with(u"08") ||
               (m_sqlstate == u"01000" && (m_native == 20004 || m_native == 20006 || m_native == 20017));
    }

    void extract_from_records2(IErrorRecords* records);

    // Source and description of one error object.
    class error_info_dispatcher {
    public:
        explicit error_info_dispatcher(IErrorInfo* info);
        std::u16string source;
        std::u16string description;
    };

private:
    std::u16string m_source;
    std::u16string m_sqlstate;
    long m_native = 0;
};

// The one check of a provider call: a failure is traced and raised as odb_exception. Success
// codes, the end of a rowset among them, pass.
[[noreturn]] void odb_raise(HRESULT hr);
inline void odb_check(HRESULT hr) {
    if (FAILED(hr)) odb_raise(hr);
}
