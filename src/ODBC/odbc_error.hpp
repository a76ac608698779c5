#pragma once

#include "MSS/odb_error_object.hpp"
#include "ODBC/odbc_handle.hpp"

#include <exception>
#include <string>
#include <string_view>
#include <vector>

// A failed ODBC call, with every diagnostic record of the handle turned into an OLE DB error
// record. The failing call's result is the first record's.
class odbc_error : public std::exception {
public:
    explicit odbc_error(std::vector<odb_error_record> records);
    // One record made here, for failures the driver did not describe.
    odbc_error(HRESULT result, const std::u16string& description);

    HRESULT result() const noexcept { return m_records.front().result; }
    const std::vector<odb_error_record>& records() const noexcept { return m_records; }
    const char* what() const noexcept override { return m_what.c_str(); }
    // Makes the records the thread's current error object and answers the result to return.
    HRESULT post() const;

    // Reads every diagnostic record of the handle. `call` names the failed function for the record
    // made when the driver left none.
    static odbc_error from_handle(const odbc_handle& handle, const char* call);
    static odbc_error from_handle(short type, void* handle, const char* call);

private:
    std::vector<odb_error_record> m_records;
    std::string m_what;
};

// The result an OLE DB provider gives for a diagnostic record.
HRESULT odbc_hresult_from_sqlstate(std::u16string_view sqlstate, long native_error);

// Splits "[vendor][component]text" into the bracketed prefixes (the source) and the rest.
void odbc_split_message(std::u16string_view message, std::u16string& source, std::u16string& description);

// Throws odbc_error with the handle's records when `rc` is not a success code.
void odbc_check(short rc, const odbc_handle& handle, const char* call);
