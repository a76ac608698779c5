#include "MSS/odb_exception.hpp"
#include "MSS/odb_recordset.hpp"
#include "odb_test_util.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using odb_test::column;
using odb_test::failure;
using odb_test::trace_capture;

namespace {
// A session's worth of scripted provider, handing out rowsets of the table "t".
class reader_fixture : public ::testing::Test {
protected:
    ole_com_ptr<IRowset> open(odb_script_rowset rowset) {
        provider.add_table(u"t", std::move(rowset));
        ole_com_ptr<IDBInitialize> source;
        EXPECT_EQ(CoCreateInstance(CLSID_SQLNCLI11, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                   source.put_void()),
                  S_OK);
        source->Initialize();
        ole_com_ptr<IDBCreateSession> factory;
        source.query(IID_IDBCreateSession, factory);
        ole_com_ptr<IOpenRowset> session;
        factory->CreateSession(nullptr, IID_IOpenRowset, session.put_unknown());
        DBID id{{}, DBKIND_NAME, const_cast<OLECHAR*>(u"t")};
        ole_com_ptr<IRowset> result;
        odb_check(session->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr, result.put_unknown()));
        return result;
    }
    std::unique_ptr<odb_recordset> reader(odb_script_rowset rowset) {
        return std::make_unique<odb_recordset>(open(std::move(rowset)).get());
    }
    static odb_script_rowset numbered(int rows) {
        odb_script_rowset r;
        r.columns = {column(u"id", DBTYPE_I4, 4, false), column(u"name", DBTYPE_WSTR, 10)};
        for (int i = 1; i <= rows; ++i)
            r.rows.push_back({std::u16string(1, u'0' + i % 10), u"n" + std::u16string(1, u'0' + i % 10)});
        return r;
    }
    // Every record's texts, as the walk of the converter takes them.
    static std::vector<std::u16string> walk(odb_recordset& r) {
        std::vector<std::u16string> seen;
        r.reset();
        while (!r.is_eof()) {
            udb_record* record = r.get_item();
            std::u16string line;
            for (size_t i = 0; i < record->size(); ++i) line += (i ? u"|" : u"") + (*record)[i].to_wstring();
            seen.push_back(line);
            r.next();
        }
        return seen;
    }
    void TearDown() override {
        EXPECT_EQ(provider.live_objects(), 0);
        EXPECT_EQ(provider.held_rows(), 0);
        EXPECT_EQ(provider.live_accessors(), 0);
    }

    odb_scripted_provider provider;
    reader_fixture() { provider.add_class(CLSID_SQLNCLI11); }
};

size_t fetches(const odb_scripted_provider& p) {
    auto calls = p.calls();
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), "GetNextRows"));
}
} // namespace

TEST_F(reader_fixture, walks_every_row_through_the_five_row_cache) {
    for (int rows : {0, 4, 5, 6, 11}) {
        provider.clear_calls();
        auto r = reader(numbered(rows));
        std::vector<std::u16string> seen = walk(*r);
        ASSERT_EQ(seen.size(), static_cast<size_t>(rows)) << rows;
        for (int i = 1; i <= rows; ++i) {
            std::u16string digit(1, u'0' + i % 10);
            EXPECT_EQ(seen[i - 1], digit + u"|n" + digit) << rows;
        }
        EXPECT_EQ(r->rows_read(), rows);
        // One fetch per five rows begun, and the one that finds the end.
        EXPECT_EQ(fetches(provider), static_cast<size_t>((rows + 4) / 5 + 1)) << rows;
        // Read again from the start.
        EXPECT_EQ(walk(*r).size(), static_cast<size_t>(rows));
    }
}

TEST_F(reader_fixture, schema_from_the_column_information) {
    odb_script_rowset rowset;
    rowset.columns = {column(u"id", DBTYPE_I4, 4, false),
                      column(u"amount", DBTYPE_NUMERIC, 19, true, 18, 4),
                      column(u"uid", DBTYPE_GUID, 16),
                      column(u"pic", DBTYPE_BYTES, 100),
                      column(u"made", DBTYPE_DBTIMESTAMP, 16),
                      column(u"day", DBTYPE_DBDATE, 10),
                      column(u"doc", DBTYPE_XML, 0)};
    auto r = reader(rowset);
    const udb_schema& s = r->schema();
    ASSERT_EQ(s.size(), 7u);
    EXPECT_EQ(s[0].name, u"id");
    EXPECT_EQ(s[0].vartype, VT_I4);
    EXPECT_TRUE(s[0].b_not_null);
    EXPECT_FALSE(s[1].b_not_null);
    EXPECT_EQ(s[1].vartype, VT_DECIMAL);
    EXPECT_EQ(s[1].reserved(), 4612);
    EXPECT_EQ(s[2].vartype, VT_BSTR);
    EXPECT_EQ(s[2].size, 38u);
    EXPECT_EQ(s[3].vartype, VT_BLOB);
    EXPECT_EQ(s[3].size, 0u);
    EXPECT_EQ(s[4].vartype, VT_DATE);
    EXPECT_EQ(s[4].reserved(), 1);
    EXPECT_EQ(s[5].vartype, VT_DATE);
    EXPECT_EQ(s[6].vartype, VT_BSTR); // xml arrives as its text
}

TEST_F(reader_fixture, values_and_empty_states) {
    odb_script_rowset rowset;
    rowset.columns = {column(u"n", DBTYPE_I4, 4), column(u"s", DBTYPE_WSTR, 10),
                      column(u"d", DBTYPE_NUMERIC, 19, true, 18, 4), column(u"b", DBTYPE_BYTES, 4),
                      column(u"g", DBTYPE_GUID, 16)};
    const std::u16string guid = u"{6F9619FF-8B86-D011-B42D-00CF4FC964FF}";
    rowset.rows = {
        {u"42", u"", u"12.5000", odb_script_value::binary(std::string("\x00\xAB\x01", 3)), guid},
        {odb_script_value::null(), odb_script_value::null(), u"", odb_script_value::binary(""),
         odb_script_value::null()},
        {u"", u"x", odb_script_value::with_status(DBSTATUS_E_CANTCONVERTVALUE), odb_script_value::null(),
         guid},
    };
    auto r = reader(rowset);
    r->reset();
    udb_record* row = r->get_item();
    EXPECT_EQ((*row)[0].vt(), VT_I4);
    EXPECT_EQ((*row)[0].to_wstring(), u"42");
    EXPECT_EQ((*row)[1].vt(), VT_BSTR); // an empty string stays a string
    EXPECT_EQ((*row)[1].to_wstring(), u"");
    EXPECT_EQ((*row)[2].vt(), VT_DECIMAL);
    EXPECT_EQ((*row)[2].to_wstring(), u"12.5");
    auto bytes = (*row)[3].get_binary();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
              std::string("\x00\xAB\x01", 3));
    EXPECT_EQ((*row)[3].size(), 3);
    EXPECT_EQ((*row)[4].to_wstring(), guid);
    EXPECT_EQ((*row)[4].to_wstring().size(), 38u);
    EXPECT_EQ((*row)[0].name(), u"n");

    r->next();
    row = r->get_item();
    for (size_t i : {0u, 1u, 2u, 4u}) EXPECT_EQ((*row)[i].vt(), VT_EMPTY) << i; // NULLs, and an empty number
    EXPECT_EQ((*row)[0].size(), 4); // a NULL keeps the column's size
    EXPECT_EQ((*row)[3].size(), 0);

    r->next();
    row = r->get_item();
    EXPECT_EQ((*row)[0].vt(), VT_EMPTY); // an empty text in a number column
    EXPECT_EQ((*row)[1].to_wstring(), u"x");
    EXPECT_EQ((*row)[2].vt(), VT_EMPTY); // the provider could not convert it
    EXPECT_EQ((*row)[3].vt(), VT_EMPTY);
    r->next();
    EXPECT_TRUE(r->is_eof());
}

TEST_F(reader_fixture, dates_and_decimals_beyond_the_platform_decimal) {
    odb_script_rowset rowset;
    rowset.columns = {column(u"day", DBTYPE_DBDATE, 10), column(u"at", DBTYPE_DBTIMESTAMP, 23),
                      column(u"big", DBTYPE_NUMERIC, 38, true, 38, 0), column(u"t", DBTYPE_DBTIME2, 16)};
    rowset.rows = {
        {u"2024-02-29", u"2024-02-29 13:45:10.997", u"79228162514264337593543950336", u"12:34:56.1234567"},
        {u"1999-12-31", u"1999-12-31 00:00:00", u"-12345678901234567890123456789012345678", u"00:00:00"},
        {u"2001-01-01", u"2001-01-01 01:02:03", u"79228162514264337593543950335", u"23:59:59.9999999"}};
    auto r = reader(rowset);
    r->reset();
    udb_record* row = r->get_item();
    EXPECT_EQ((*row)[0].vt(), VT_DATE);
    EXPECT_EQ((*row)[0].to_string(), "2024-02-29");
    EXPECT_EQ((*row)[1].vt(), VT_DATE);
    EXPECT_EQ((*row)[1].to_string(), "2024-02-29 13:45:10");
    // More digits than the platform decimal holds: the exact text, not an empty value.
    EXPECT_EQ((*row)[2].vt(), VT_BSTR);
    EXPECT_EQ((*row)[2].to_wstring(), u"79228162514264337593543950336");
    // A time longer than its slot of 16 bytes still arrives.
    EXPECT_EQ((*row)[3].vt(), VT_DATE);
    r->next();
    row = r->get_item();
    EXPECT_EQ((*row)[0].to_string(), "1999-12-31");
    EXPECT_EQ((*row)[2].to_wstring(), u"-12345678901234567890123456789012345678");
    r->next();
    row = r->get_item();
    EXPECT_EQ((*row)[2].vt(), VT_DECIMAL);
    EXPECT_EQ((*row)[2].to_wstring(), u"79228162514264337593543950335");
}

TEST_F(reader_fixture, decimals_arrive_exactly) {
    struct decimal_case {
        std::u16string text;
        VARTYPE vt;
        std::u16string printed;
    };
    const std::vector<decimal_case> cases = {
        {u"12.5000", VT_DECIMAL, u"12.5"},
        {u"-0.5", VT_DECIMAL, u"-0.5"},
        {u"0001234567890123456789012345678", VT_DECIMAL, u"1234567890123456789012345678"},
        {u"79228162514264337593543950335", VT_DECIMAL, u"79228162514264337593543950335"},
        // Beyond the platform decimal: out of range, or more digits than it keeps.
        {u"79228162514264337593543950336", VT_BSTR, u"79228162514264337593543950336"},
        {u"1234567890123456789012345678.1234567890", VT_BSTR, u"1234567890123456789012345678.1234567890"},
        {u"0.000000000000000000000000000001", VT_BSTR, u"0.000000000000000000000000000001"},
        {u"abc", VT_EMPTY, u""},
    };
    odb_script_rowset rowset;
    rowset.columns = {column(u"n", DBTYPE_NUMERIC, 38, true, 38, 10)};
    for (const auto& c : cases) rowset.rows.push_back({c.text});
    auto r = reader(rowset);
    r->reset();
    for (const auto& c : cases) {
        const udb_field& value = (*r->get_item())[0];
        EXPECT_EQ(value.vt(), c.vt) << tk_to_utf8(c.text);
        EXPECT_EQ(value.to_wstring(), c.printed) << tk_to_utf8(c.text);
        r->next();
    }
}

// Slots start small whatever the column declares, grow to the values that come and give the room
// of a large value back: a table of many (max) columns costs the memory of its values.
TEST_F(reader_fixture, slots_follow_the_values_that_come) {
    trace_capture trace;
    odb_script_rowset rowset;
    // Two columns read into slots, then the same two as long columns, which the provider hands
    // over where it holds them.
    rowset.columns = {column(u"memo", DBTYPE_WSTR, ~DBLENGTH(0)), column(u"data", DBTYPE_BYTES, ~DBLENGTH(0)),
                      column(u"after", DBTYPE_I4, 4), column(u"long_memo", DBTYPE_WSTR, ~DBLENGTH(0)),
                      column(u"long_data", DBTYPE_BYTES, ~DBLENGTH(0))};
    rowset.columns[3].flags |= DBCOLUMNFLAGS_ISLONG;
    rowset.columns[4].flags |= DBCOLUMNFLAGS_ISLONG;
    // Each text longer than every one before it, some by a character, some many times over.
    std::vector<std::u16string> texts;
    for (size_t size : {1, 4095, 4096, 4097, 9000, 9001, 3000000, 25000000})
        texts.push_back(std::u16string(size, char16_t(u'a' + texts.size())));
    for (const std::u16string& text : texts) {
        odb_script_value bytes = odb_script_value::binary(std::string(text.size(), '\x7F'));
        rowset.rows.push_back({text, bytes, std::u16string(1, char16_t(u'0' + rowset.rows.size())), text, bytes});
    }
    // Then nothing, ten megabytes and a short text in the same columns.
    const std::string ten(10u << 20, '\xA5');
    const odb_script_value null = odb_script_value::null();
    rowset.rows.push_back({null, null, u"8", null, null});
    rowset.rows.push_back({std::u16string(5u << 20, u'z'), odb_script_value::binary(ten), u"9",
                           std::u16string(5u << 20, u'z'), odb_script_value::binary(ten)});
    rowset.rows.push_back({u"short", odb_script_value::binary("\x01\x02"), u"0", u"short",
                           odb_script_value::binary("\x01\x02")});
    auto r = reader(rowset);
    EXPECT_TRUE(trace.has_line("Bind column #0, type=130, size=8192"));
    EXPECT_TRUE(trace.has_line("Bind column #3, type=130, size=8"));
    EXPECT_TRUE(trace.has_line("Allocating bind-bufer, 16492 bytes"));
    r->reset();
    for (size_t i = 0; i < texts.size(); ++i, r->next()) {
        ASSERT_FALSE(r->is_eof());
        const udb_record& row = *r->get_item();
        ASSERT_EQ(row[0].vt(), VT_BSTR);
        EXPECT_TRUE(row[0].get_bstr() == texts[i]) << "row " << i << ", " << texts[i].size() << " characters";
        EXPECT_EQ(row[1].get_binary().size(), texts[i].size());
        EXPECT_EQ(row[2].to_wstring(), std::u16string(1, char16_t(u'0' + i)));
        EXPECT_TRUE(row[3].get_bstr() == texts[i]) << "row " << i;
        EXPECT_EQ(row[4].get_binary().size(), texts[i].size());
    }
    // The 25,000,000 characters' slot was given back once the NULL row had been read.
    EXPECT_EQ(trace.count("Slots shrink to the values that come"), 1u);
    EXPECT_EQ((*r->get_item())[0].vt(), VT_EMPTY);
    EXPECT_EQ((*r->get_item())[1].vt(), VT_EMPTY);
    EXPECT_EQ((*r->get_item())[3].vt(), VT_EMPTY);
    EXPECT_EQ((*r->get_item())[4].vt(), VT_EMPTY);
    r->next();
    const udb_record& large = *r->get_item();
    EXPECT_EQ(large[0].get_bstr().size(), 5u << 20);
    auto bytes = large[1].get_binary();
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == ten);
    EXPECT_EQ(large[2].to_wstring(), u"9");
    EXPECT_EQ(large[3].get_bstr().size(), 5u << 20);
    auto long_bytes = large[4].get_binary();
    EXPECT_TRUE(std::string(long_bytes.begin(), long_bytes.end()) == ten);
    EXPECT_EQ(trace.count("Slots shrink to the values that come"), 1u);
    r->next();
    const udb_record& last = *r->get_item();
    EXPECT_EQ(last[0].to_wstring(), u"short");
    EXPECT_EQ(last[1].get_binary().size(), 2u);
    EXPECT_EQ(last[2].to_wstring(), u"0");
    EXPECT_EQ(last[3].to_wstring(), u"short");
    EXPECT_EQ(last[4].get_binary().size(), 2u);
    EXPECT_EQ(trace.count("Slots shrink to the values that come"), 2u);
    r->next();
    EXPECT_TRUE(r->is_eof());
}

TEST_F(reader_fixture, slots_after_a_column_of_odd_size) {
    odb_script_rowset rowset;
    rowset.columns = {column(u"shape", DBTYPE_UDT, 17), column(u"label", DBTYPE_WSTR, 10),
                      column(u"at", DBTYPE_DBTIMESTAMP, 23)};
    rowset.rows = {{u"0A0B", u"abc", u"2020-05-06 07:08:09"}};
    auto r = reader(rowset);
    r->reset();
    const udb_record& row = *r->get_item();
    auto bytes = row[0].get_binary();
    ASSERT_EQ(bytes.size(), 2u);
    EXPECT_EQ(bytes[1], 0x0B);
    EXPECT_EQ(row[1].to_wstring(), u"abc");
    EXPECT_EQ(row[2].to_string(), "2020-05-06 07:08:09");
}

TEST_F(reader_fixture, bind_sizes_by_type) {
    trace_capture trace;
    odb_script_rowset rowset;
    rowset.columns = {column(u"a", DBTYPE_I8, 8),
                      column(u"b", DBTYPE_NUMERIC, 19),
                      column(u"c", DBTYPE_WSTR, 50),
                      column(u"d", DBTYPE_BYTES, 50),
                      column(u"e", DBTYPE_BYTES, ~DBLENGTH(0)),
                      column(u"f", DBTYPE_XML, 0),
                      column(u"g", DBTYPE_DBTIME2, 16)};
    auto r = reader(rowset);
    EXPECT_TRUE(trace.has_line("Bind column #0, type=20, size=52"));
    EXPECT_TRUE(trace.has_line("Bind column #1, type=131, size=102"));
    EXPECT_TRUE(trace.has_line("Bind column #2, type=130, size=102"));
    EXPECT_TRUE(trace.has_line("Bind column #3, type=128, size=52"));
    // Unbounded columns start at the same size as any other long one; a time has room for its text.
    EXPECT_TRUE(trace.has_line("Bind column #4, type=128, size=8192"));
    EXPECT_TRUE(trace.has_line("Bind column #5, type=141, size=8192"));
    EXPECT_TRUE(trace.has_line("Bind column #6, type=145, size=128"));
}

TEST_F(reader_fixture, a_failing_fetch_in_the_middle_raises_a_level_0_error) {
    provider.fail(odb_script_call::get_next_rows, [] {
        auto f = failure(E_FAIL, u"Communication link failure", u"08S01", 0);
        f.after = 1;
        return f;
    }());
    auto r = reader(numbered(11));
    r->reset();
    for (int i = 0; i < 4; ++i) r->next();
    try {
        r->next();
        FAIL() << "no exception";
    } catch (const odb_exception& e) {
        EXPECT_EQ(e.level(), 0);
        EXPECT_EQ(e.code(), 0x84005);
        EXPECT_EQ(e.message(), "Communication link failure");
    }
    EXPECT_TRUE(r->is_eof());
}

struct failing_call {
    odb_script_call call;
    HRESULT result;
};
class reader_failure : public reader_fixture, public ::testing::WithParamInterface<failing_call> {};

TEST_P(reader_failure, raises_the_providers_error) {
    provider.fail(GetParam().call, failure(GetParam().result, u"scripted failure"));
    try {
        auto r = reader(numbered(7));
        r->reset();
        while (!r->is_eof()) r->next();
        r->reset(); // a restart
        FAIL() << "no exception";
    } catch (const odb_exception& e) {
        EXPECT_EQ(e.code(), 0x80000 | (GetParam().result & 0xFFFF));
        EXPECT_EQ(e.message(), "scripted failure");
    }
}

INSTANTIATE_TEST_SUITE_P(
    calls, reader_failure,
    ::testing::Values(failing_call{odb_script_call::get_column_info, DB_E_NOTABLE},
                      failing_call{odb_script_call::create_accessor, DB_E_ERRORSOCCURRED},
                      failing_call{odb_script_call::get_next_rows, E_FAIL},
                      failing_call{odb_script_call::get_data, DB_E_BADACCESSORHANDLE},
                      failing_call{odb_script_call::release_rows, DB_E_BADROWHANDLE},
                      failing_call{odb_script_call::restart_position, DB_E_CANTFETCHBACKWARDS}));

TEST_F(reader_fixture, missing_interfaces_raise) {
    provider.deny_interface(IID_IColumnsInfo);
    EXPECT_THROW(reader(numbered(1)), odb_exception);
}

TEST_F(reader_fixture, a_second_reset_starts_from_the_first_row_again) {
    auto r = reader(numbered(7));
    r->reset();
    r->reset();
    EXPECT_EQ((*r->get_item())[0].to_wstring(), u"1");
}

TEST_F(reader_fixture, misuse_is_an_internal_error) {
    auto r = reader(numbered(0));
    r->reset();
    EXPECT_TRUE(r->is_eof());
    EXPECT_THROW(r->get_item(), tk_mail_assertion);
    EXPECT_THROW(r->next(), tk_mail_assertion);
    odb_record::get_vartype(DBTYPE_I4);
    EXPECT_THROW(r->append_record(udb_record()), tk_mail_assertion);
}

TEST(odb_recordset, without_a_rowset_it_is_at_its_end) {
    trace_capture trace;
    odb_recordset r(nullptr);
    r.reset();
    EXPECT_TRUE(r.is_eof());
    EXPECT_EQ(r.schema().size(), 0u);
    EXPECT_TRUE(trace.has_line("Rowset isn't defined"));
}

namespace {
// A reader told to expect more rows than the rowset holds, as a table counted before rows went.
class counted_reader : public odb_recordset {
public:
    counted_reader(IRowset* rowset, int count) : odb_recordset(rowset), m_count(count) {}

protected:
    bool is_count_reached() const override { return rows_read() >= m_count; }

private:
    int m_count;
};
} // namespace

TEST_F(reader_fixture, a_rowset_shorter_than_its_count_ends_the_walk) {
    counted_reader shorter(open(numbered(6)).get(), 10);
    EXPECT_EQ(walk(shorter).size(), 6u);
    counted_reader longer(open(numbered(6)).get(), 3);
    EXPECT_EQ(walk(longer).size(), 3u);
}

TEST_F(reader_fixture, row_trace) {
    odb_script_rowset rowset = numbered(1);
    rowset.rows[0][1] = odb_script_value::null();
    auto r = reader(rowset);
    trace_capture trace;
    r->reset();
    EXPECT_TRUE(trace.has_line("GetNextRows extracts 1 records"));
    EXPECT_TRUE(trace.has_line("Field #0 - OK, length=2"));
    EXPECT_TRUE(trace.has_line("\t1"));
    EXPECT_TRUE(trace.has_line("Field #1 - FAILED, status code=00000003"));
    EXPECT_TRUE(trace.has_line("\t<NULL>"));
    EXPECT_TRUE(trace.has_line("End of odb_recordset::fill_cache"));
    r.reset();
    EXPECT_TRUE(trace.has_line("ole_com_ptr<T>::~ole_com_ptr() - 0 refs left"));
}

namespace {
// One column of `type`, its value bound as `binding` at the start of `row`.
std::unique_ptr<odb_record> record_of(DBTYPE type, DBTYPE binding, const void* value, size_t size,
                                      unsigned char (&row)[256]) {
    static DBCOLUMNINFO info;
    info = DBCOLUMNINFO{const_cast<OLECHAR*>(u"c"), nullptr, 1, 0, 19, type, 38, 0, {}};
    static DBBINDING bound;
    bound = DBBINDING{};
    bound.iOrdinal = 1;
    bound.obStatus = 0;
    bound.obLength = 4;
    bound.obValue = 8;
    bound.wType = binding;
    const DBSTATUS ok = DBSTATUS_S_OK;
    const odb_bound_length length = static_cast<odb_bound_length>(size);
    std::memcpy(row, &ok, sizeof ok);
    std::memcpy(row + 4, &length, sizeof length);
    std::memcpy(row + 8, value, size);
    return std::make_unique<odb_record>(1, row, &info, &bound);
}

std::uint64_t next_random(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}
} // namespace

// A decimal or an amount of money that came as a structure must become the field its provider
// text would have: the same type, the same bits and the same printed text, decimals beyond the
// platform decimal included (they keep their text).
TEST(odb_record, typed_decimals_and_money_are_the_fields_of_their_texts) {
    auto same = [](DBTYPE type, DBTYPE binding, const void* value, size_t size, const std::u16string& text) {
        unsigned char typed_row[256], text_row[256];
        auto typed = record_of(type, binding, value, size, typed_row);
        auto parsed = record_of(type, DBTYPE_WSTR, text.data(), text.size() * 2, text_row);
        const ole_variant& a = static_cast<const ole_variant&>((*typed)[0]);
        const ole_variant& b = static_cast<const ole_variant&>((*parsed)[0]);
        ASSERT_EQ(a.vt(), b.vt()) << tk_to_utf8(text);
        if (a.vt() == VT_DECIMAL) {
            EXPECT_EQ(std::memcmp(&a.var.decVal, &b.var.decVal, sizeof(DECIMAL)), 0) << tk_to_utf8(text);
        }
        if (a.vt() == VT_CY) {
            EXPECT_EQ(a.var.cyVal.int64, b.var.cyVal.int64) << tk_to_utf8(text);
        }
        EXPECT_EQ(a.to_wstring(), b.to_wstring()) << tk_to_utf8(text);
    };
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    std::u16string text;
    std::vector<DB_NUMERIC> numbers;
    using u128 = unsigned __int128;
    auto numeric = [](u128 magnitude, int scale, bool negative) {
        DB_NUMERIC n{38, static_cast<BYTE>(scale), static_cast<BYTE>(negative ? 0 : 1), {}};
        for (int i = 0; i < 16; ++i) n.val[i] = static_cast<BYTE>(magnitude >> (8 * i));
        return n;
    };
    const u128 max38 = u128(10000000000000000000ull) * 10000000000000000000ull - 1;
    const u128 max96 = (u128(1) << 96) - 1;
    for (u128 m : {u128(0), u128(1), u128(10), max96, max96 + 1, max38})
        for (int scale : {0, 1, 4, 18, 28, 29, 38})
            for (bool negative : {false, true}) numbers.push_back(numeric(m, scale, negative));
    for (int i = 0; i < 4000; ++i) {
        u128 m = u128(next_random(state)) << 64 | next_random(state);
        m >>= next_random(state) % 128;
        // Trailing zeros in the fraction, as a column's scale gives them.
        if (i % 3 == 0) m = m / 10000 * 10000;
        numbers.push_back(numeric(m % (max38 + 1), static_cast<int>(next_random(state) % 39), next_random(state) % 2));
    }
    for (const DB_NUMERIC& n : numbers) {
        odb_numeric_text(n, text);
        same(DBTYPE_NUMERIC, DBTYPE_NUMERIC, &n, sizeof n, text);
    }
    std::vector<std::int64_t> amounts = {0, 1, -1, 5000, -5000, 9999, std::numeric_limits<std::int64_t>::max(),
                                         std::numeric_limits<std::int64_t>::min(), 2147483647, -2147483648LL};
    for (int i = 0; i < 3000; ++i)
        amounts.push_back(static_cast<std::int64_t>(next_random(state)) >> (next_random(state) % 64));
    for (std::int64_t amount : amounts) {
        odb_money_text(amount, text);
        same(DBTYPE_CY, DBTYPE_CY, &amount, sizeof amount, text);
    }
    // The texts themselves, as the driver writes them.
    odb_numeric_text(numeric(5, 2, true), text);
    EXPECT_EQ(text, u"-0.05");
    odb_numeric_text(numeric(0, 3, false), text);
    EXPECT_EQ(text, u"0.000");
    odb_numeric_text(numeric(max38, 0, false), text);
    EXPECT_EQ(text, std::u16string(38, u'9'));
    odb_numeric_text(numeric(123400, 4, false), text);
    EXPECT_EQ(text, u"12.3400");
    odb_money_text(std::numeric_limits<std::int64_t>::min(), text);
    EXPECT_EQ(text, u"-922337203685477.5808");
    odb_money_text(-5000, text);
    EXPECT_EQ(text, u"-0.5000");
}
