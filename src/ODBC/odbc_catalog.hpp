#pragma once

#include "ODBC/odbc_result.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// One OLE DB schema rowset built from the ODBC catalog functions and reshaped into OLE DB's column
// layout: CATALOGS, TABLES, PRIMARY_KEYS, FOREIGN_KEYS and INDEXES. Restrictions are in OLE DB's
// order; a missing one restricts nothing, a given one matches exactly. Throws odbc_error.
std::unique_ptr<odbc_memory_result>
odbc_schema_rowset(const std::shared_ptr<odbc_pool>& pool, const GUID& schema,
                   const std::vector<std::optional<std::u16string>>& restrictions);
