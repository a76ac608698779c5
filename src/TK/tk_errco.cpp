#include "TK/tk_errco.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

#define TK_SUPPORT "support@example.com"

namespace {
const tk_error_row provider_messages[] = {
    {527875, "Given values violate the database schema."},
    {527879, "A literal value could not be converted to the correct type.Contact to " TK_SUPPORT
             " for the solution."},
    {527881, "You are not allowed to access MS SQL database. Ask your\nsystem administrator to grant you "
             "necessary privileges."},
    {527889, "Invalid column ID. Contact to " TK_SUPPORT " for the solution."},
    {527891, "Invalid value. Contact to " TK_SUPPORT " for the solution."},
    {527895, "A data source with the specified name already exists."},
    {527901, "Requested conversion is not supported."},
    {527905, "Errors occurred. Contact to " TK_SUPPORT " for the solution."},
    {527919, "The specified record violates the integrity constraints.\nSee 'Troubleshooting' article of the "
             "product documentation\nfor solution."},
    {527920, "The given type name was unrecognized."},
    {527924, "The specified index already exists."},
    {527925, "The specified index does not exist."},
    {527927, "The specified table does not exist."},
    {527930, "A specified precision was invalid."},
    {527931, "A specified scale was invalid."},
    {527932, "Invalid table ID. Contact to " TK_SUPPORT " for the solution."},
    {527933, "A specified type was invalid."},
    {527934, "A column ID was occurred more than once in the specification."},
    {527935, "The specified table already exists. Try to connect as database owner\nusing the appropriate "
             "checkbox on 'Connect to MS SQL server' wizard page."},
    {527938, "The specified record number is invalid."},
    {527949, "Invalid user name or password."},
    {527957, "The specified column did not exist."},
    {527959,
     "A literal value overflowed the range of the type of the associated column.\nContact to " TK_SUPPORT
     " for the solution."},
    {527973, "The supplied columnID was invalid."},
    {527986, "The index ID is invalid. Contact to " TK_SUPPORT "\nfor the solution."},
    {528065, "One or more column types are incompatible; conversion errors will\noccur during copying."},
    {528090, "Errors occurred. Contact to " TK_SUPPORT " for the solution."},
};
static_assert(sizeof provider_messages / sizeof provider_messages[0] == 27);
} // namespace

const tk_error_row* tk_provider_messages(int* row_count) {
    *row_count = static_cast<int>(sizeof provider_messages / sizeof provider_messages[0]);
    return provider_messages;
}

tk_error_converter::tk_error_converter() {
    TK_TRACE(2, "tk_error_converter::empty ctor");
}

tk_error_converter::tk_error_converter(int row_count, const tk_error_row* table) {
    TK_TRACE(2, "tk_error_converter::ctor (map size=%d)", row_count);
    load_map(row_count, table);
}

void tk_error_converter::load_map(int row_count, const tk_error_row* table) {
    TK_TRACE(2, "tk_error_converter::load_map (map size=%d)", row_count);
    if (!table) throw tk_mail_assertion("tk_errco.cpp", __LINE__);
    for (int i = 0; i < row_count; ++i) m_map.emplace(table[i].code, table[i].text);
}

std::string tk_error_converter::convert(int code) const {
    TK_TRACE(2, "tk_error_converter::convert(%d)", code);
    auto found = m_map.find(code);
    if (found == m_map.end()) {
        TK_TRACE(1, "Error message not found!");
        return {};
    }
    TK_TRACE(1, "Error message has been found: %s", found->second.c_str());
    return found->second;
}
