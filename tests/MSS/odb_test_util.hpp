#pragma once

// Shared pieces of the data-access tests: a captured trace log and rowset builders.

#include "support/odb_scripted_provider.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "support/test_support.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace odb_test {

// The trace log of one test, every level written.
class trace_capture {
public:
    trace_capture() : m_log(std::make_unique<tk_log>(m_dir.file("trace.log").c_str(), true, 1, false)) {}
    std::string text() const { return test_support::read_file(m_dir.file("trace.log")); }
    bool has_line(const std::string& line) const {
        std::string all = "\r\n" + text();
        return all.find("\r\n" + line + "\r\n") != std::string::npos;
    }
    size_t count(const std::string& piece) const {
        std::string all = text();
        size_t n = 0;
        for (size_t at = all.find(piece); at != std::string::npos; at = all.find(piece, at + 1)) ++n;
        return n;
    }

private:
    test_support::temp_dir m_dir;
    std::unique_ptr<tk_log> m_log;
};

inline odb_script_column column(std::u16string name, DBTYPE type, DBLENGTH size, bool nullable = true,
                                BYTE precision = 0, BYTE scale = 0) {
    return odb_script_column{std::move(name), type, size, nullable ? DBCOLUMNFLAGS_ISNULLABLE : 0u,
                             precision,       scale};
}

// One text column with one row per value.
inline odb_script_rowset text_rows(std::u16string name, const std::vector<std::u16string>& values) {
    odb_script_rowset rowset;
    rowset.columns.push_back(column(std::move(name), DBTYPE_WSTR, 128));
    for (const auto& v : values) rowset.rows.push_back({odb_script_value(v)});
    return rowset;
}

inline bool called(const odb_scripted_provider& provider, const std::string& call) {
    auto calls = provider.calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

inline odb_script_failure failure(HRESULT hr, std::u16string description = u"", std::u16string sqlstate = u"",
                                  LONG native = 0) {
    odb_script_failure f;
    f.result = hr;
    f.error_records.push_back(
        odb_error_record{hr, std::move(sqlstate), native, u"Scripted server", std::move(description)});
    return f;
}

} // namespace odb_test
