#include "UDB/udb_recordset.hpp"

#include "TK/tk_log.hpp"

udb_recordset::udb_recordset(std::u16string name, bool owns_schema)
    : m_name(std::move(name)), m_schema(owns_schema) {}

udb_recordset::~udb_recordset() = default;

void udb_recordset::update() {
    TK_TRACE(1, "udb_recordset::update");
}

udb_record* udb_recordset::get_item() {
    return nullptr;
}

bool udb_recordset::is_eof() {
    return true;
}

bool udb_recordset::is_query() const {
    return !m_query.empty();
}

void udb_recordset::next() {}

void udb_recordset::idle() {}

void udb_recordset::reset() {}
