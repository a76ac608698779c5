#pragma once

#include "MSS/odb_oledb.hpp"

#include <string>
#include <vector>

// One provider error record: what a driver's diagnostic says.
struct odb_error_record {
    HRESULT result = E_FAIL;
    std::u16string sqlstate; // empty: the record has no SQL information
    LONG native_error = 0;
    std::u16string source;
    std::u16string description;
};

// Makes an error object holding `records` (IErrorInfo answering for the first record,
// IErrorRecords, and ISQLErrorInfo per record with a SQLSTATE) the calling thread's current one.
// Providers call it just before they return a failure.
void odb_post_error(const std::vector<odb_error_record>& records);

// Makes a plain error object without records (IErrorInfo only) the thread's current one.
void odb_post_error_info(const std::u16string& source, const std::u16string& description);

// Clears the thread's current error object: a successful call leaves none behind.
void odb_clear_error();
