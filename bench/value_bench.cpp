// The per-value road of an export, per type: a value's text as the ODBC binding hands it over (the
// driver's text after the binding's own touches) read into its variant (odb_record::get_field),
// then written as CSV field bytes (csv_file::append_record). A record holds `fields_per_record`
// values of one type, so the one write per record weighs little on a value; the file is /dev/null.
//
//   build-bench/bench/tabloxa-value-bench [--benchmark_filter=decimal]
//
// Times only: nothing here is checked.
#include "MSS/odb_record.hpp"
#include "common/csv_file.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int fields_per_record = 100;

struct value_case {
    const char* name;
    DBTYPE type;
    DBLENGTH size;
    std::u16string text;
};

// The mixed table of the export benchmark (bench/export_bench.py), one value of each column.
const value_case cases[] = {
    {"int", DBTYPE_I4, 4, u"1234567"},
    {"bigint", DBTYPE_I8, 8, u"1234570703701"},
    {"nvarchar", DBTYPE_WSTR, 50, u"Grüße №1234567 — Ζήτα ✓"},
    {"varchar", DBTYPE_STR, 100, u"Row 1234567; \"quoted\", plain ASCII filler text"},
    {"decimal", DBTYPE_NUMERIC, 19, u"-40223727.4567"},
    {"money", DBTYPE_CY, 8, u"234567.6371"},
    {"float", DBTYPE_R8, 8, u"176366.71428571429"},
    {"float_whole", DBTYPE_R8, 8, u"176366"},
    {"datetime2", DBTYPE_DBTIMESTAMP, 16, u"2017-08-08 07:07:49.4065933"},
    {"bit", DBTYPE_BOOL, 2, u"1"},
    {"guid", DBTYPE_GUID, 16, u"{0012D687-D687-8395-D0C1-0A2A6E0D6B27}"},
};

DBCOLUMNINFO column_of(const value_case& c) {
    DBCOLUMNINFO info{};
    info.pwszName = const_cast<LPOLESTR>(u"v");
    info.wType = c.type;
    info.ulColumnSize = c.size;
    return info;
}

std::unique_ptr<udb_record> record_of(int fields) {
    auto record = std::make_unique<udb_record>();
    for (int i = 0; i < fields; ++i) record->append(std::make_unique<odb_field>(u"v", 0, ole_variant()));
    return record;
}

// Provider text to variant only.
void read_value(benchmark::State& state, const value_case& c) {
    DBCOLUMNINFO column = column_of(c);
    odb_field field(u"v", 0, ole_variant());
    for (auto _ : state) {
        odb_record::get_field(column, c.text, field);
        benchmark::DoNotOptimize(field.var);
    }
    state.SetItemsProcessed(state.iterations());
}

// Variant to CSV bytes only.
void write_value(benchmark::State& state, const value_case& c) {
    DBCOLUMNINFO column = column_of(c);
    auto record = record_of(fields_per_record);
    for (size_t i = 0; i < record->size(); ++i)
        odb_record::get_field(column, c.text, static_cast<odb_field&>((*record)[i]));
    csv_file file(u"/dev/null", ';');
    for (auto _ : state) file.append_record(*record);
    state.SetItemsProcessed(state.iterations() * fields_per_record);
}

// The whole road: text to variant to CSV bytes.
void export_value(benchmark::State& state, const value_case& c) {
    DBCOLUMNINFO column = column_of(c);
    auto record = record_of(fields_per_record);
    csv_file file(u"/dev/null", ';');
    for (auto _ : state) {
        for (size_t i = 0; i < record->size(); ++i)
            odb_record::get_field(column, c.text, static_cast<odb_field&>((*record)[i]));
        file.append_record(*record);
    }
    state.SetItemsProcessed(state.iterations() * fields_per_record);
}

const bool registered = [] {
    for (const value_case& c : cases) {
        benchmark::RegisterBenchmark((std::string("read/") + c.name).c_str(), read_value, c);
        benchmark::RegisterBenchmark((std::string("write/") + c.name).c_str(), write_value, c);
        benchmark::RegisterBenchmark((std::string("export/") + c.name).c_str(), export_value, c);
    }
    return true;
}();

} // namespace
