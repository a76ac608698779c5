#include "TK/tk_exception.hpp"
#include "UDB/t_ftd.hpp"
#include "UDB/udb_database.hpp"
#include "UDB/udb_indexes.hpp"
#include "UDB/udb_record.hpp"
#include "UDB/udb_recordset.hpp"
#include "UDB/udb_relationships.hpp"
#include "UDB/udb_schema.hpp"

#include <gtest/gtest.h>

namespace {
std::unique_ptr<t_ftd> ftd(const std::u16string& name, VARTYPE type, std::uint32_t size = 4,
                           int reserved = 0) {
    return std::make_unique<t_ftd>(size, name, type, false, false, ole_variant(), reserved);
}

class reader : public udb_recordset {
public:
    using udb_recordset::udb_recordset;
    void append_record(const udb_record&) override { throw tk_mail_assertion("test", __LINE__); }
};
} // namespace

TEST(udb_schema, lookups_ignore_case_and_the_first_match_wins) {
    udb_schema schema;
    schema.append(ftd(u"CustomerID", VT_I4, 4));
    schema.append(ftd(u"Name", VT_BSTR, 40));
    schema.append(ftd(u"NAME", VT_R8, 8));
    EXPECT_EQ(schema.get_field_idx(u"customerid"), 0);
    EXPECT_EQ(schema.get_field_idx(u"name"), 1);
    EXPECT_EQ(schema.get_field_idx(u"Name "), -1);
    EXPECT_EQ(schema.get_field_type(u"NAME"), VT_BSTR);
    EXPECT_EQ(schema.get_field_size(u"nAmE"), 40u);
    EXPECT_EQ(&schema.find_field(u"CUSTOMERID"), &schema[0]);
    EXPECT_EQ(schema.field_names(), (std::vector<std::u16string>{u"CustomerID", u"Name", u"NAME"}));
}

TEST(udb_schema, a_missing_name_is_a_programming_error_where_it_must_exist) {
    udb_schema schema;
    schema.append(ftd(u"a", VT_I4));
    EXPECT_THROW(schema.find_field(u"b"), tk_mail_assertion);
    EXPECT_THROW(schema.get_field_size(u"b"), tk_mail_assertion);
    EXPECT_THROW(schema.get_field_type(u"b"), tk_mail_assertion);
}

TEST(udb_schema, a_borrowing_schema_leaves_its_descriptions_alone) {
    t_ftd kept(4, u"kept", VT_I4, false, true, ole_variant(), 0);
    {
        udb_schema borrowed(false);
        borrowed.append(kept);
        EXPECT_THROW(borrowed.append(ftd(u"x", VT_I4)), tk_mail_assertion);
    }
    EXPECT_EQ(kept.name, u"kept");
    udb_schema owner;
    EXPECT_THROW(owner.append(kept), tk_mail_assertion);
}

TEST(t_ftd, the_reserved_marker_survives_a_new_default) {
    t_ftd decimal(9, u"Price", VT_DECIMAL, false, false, ole_variant(), udb_reserved_decimal(18, 4));
    EXPECT_EQ(decimal.reserved(), 4612);
    decimal.set_default(ole_variant(std::u16string(u"0.5")));
    EXPECT_EQ(decimal.reserved(), 4612);
    EXPECT_EQ(decimal.def_value.to_wstring(), u"0.5");
    decimal.set_reserved(udb_reserved_date);
    EXPECT_EQ(decimal.def_value.size(), 2);
}

TEST(udb_record, values_are_found_by_name_or_answer_an_empty_value) {
    udb_record record;
    record.append(std::make_unique<udb_field>(u"Id", 4, ole_variant(7)));
    record.append(std::make_unique<udb_field>(u"Name", 10, ole_variant(std::u16string(u"Ann"))));
    record.append(std::make_unique<udb_field>(u"NAME", 10, ole_variant(std::u16string(u"Bob"))));
    EXPECT_TRUE(record.find_field(u"id"));
    EXPECT_FALSE(record.find_field(u"Id2"));
    EXPECT_EQ(record.get_field(u"name").to_wstring(), u"Ann");
    EXPECT_EQ(record.get_field(u"missing").get_type(), VT_EMPTY);
    EXPECT_EQ(record[0].get_type(), VT_I4);
    EXPECT_EQ(record[1].size(), 10);
}

TEST(udb_field, a_moved_in_value_keeps_its_type_and_text) {
    ole_variant text(std::u16string(u"Zoë"));
    udb_field field(u"Name", 3, std::move(text));
    EXPECT_EQ(field.get_type(), VT_BSTR);
    EXPECT_EQ(field.to_wstring(), u"Zoë");
    udb_field copy = field;
    EXPECT_EQ(copy.name(), u"Name");
    EXPECT_EQ(copy.to_wstring(), u"Zoë");
    EXPECT_FALSE(copy.flag1());
}

TEST(udb_recordset, the_base_has_no_rows_and_is_a_query_only_with_a_text) {
    reader table(u"Orders");
    EXPECT_TRUE(table.is_eof());
    EXPECT_EQ(table.get_item(), nullptr);
    EXPECT_FALSE(table.is_query());
    table.set_query(u"SELECT 1");
    EXPECT_TRUE(table.is_query());
    EXPECT_TRUE(table.schema().owner());
}

TEST(udb_database, delete_tab_keeps_the_order_of_the_others) {
    udb_database db(u"Sales", 1);
    for (auto name : {u"a", u"b", u"c"}) db.add_table(name);
    db.delete_tab(u"B");
    EXPECT_EQ(db.tables(), (std::vector<std::u16string>{u"a", u"c"}));
    EXPECT_THROW(db.delete_tab(u"b"), tk_mail_assertion);
    EXPECT_THROW(db.create_table(u"x", udb_schema()), tk_mail_assertion);
}

TEST(udb_database, a_case_sensitive_database_compares_exactly) {
    udb_database db(u"Sales", 1);
    db.add_table(u"Orders");
    EXPECT_TRUE(db.is_table_exist(u"ORDERS"));
    db.set_case_sensitive(true);
    EXPECT_FALSE(db.is_table_exist(u"ORDERS"));
    EXPECT_TRUE(db.is_table_exist(u"Orders"));
    EXPECT_THROW(db.delete_tab(u"orders"), tk_mail_assertion);
    EXPECT_TRUE(db.add_view(u"v", u"select 1"));
    EXPECT_FALSE(db.add_view(u"v", u"select 2"));
    EXPECT_EQ(db.views().at(u"v"), u"select 1");
}

TEST(udb_indexes, names_are_taken_ignoring_case) {
    udb_indexes indexes;
    indexes.add({u"PK_Orders", true, true, {u"Id"}});
    EXPECT_FALSE(indexes.is_acceptable_name(u"pk_orders"));
    EXPECT_TRUE(indexes.is_acceptable_name(u"IX_Date"));
    EXPECT_TRUE(indexes.has_primary());
    indexes.find(u"PK_ORDERS")->columns.push_back(u"Line");
    EXPECT_EQ(indexes[0].columns.size(), 2u);
    EXPECT_EQ(indexes.find(u"IX_Date"), nullptr);
}

TEST(udb_relationships, a_missing_relationship_is_a_programming_error) {
    udb_relationships relationships;
    relationships.add({u"FK_Lines_Orders", u"PK_Orders", u"Lines", u"Orders", {u"OrderId"}, {u"Id"}, u""});
    EXPECT_FALSE(relationships.is_acceptable_name(u"fk_lines_orders"));
    EXPECT_EQ(relationships.get_index(u"FK_LINES_ORDERS").pk_table, u"Orders");
    EXPECT_THROW(relationships.get_index(u"FK_Other"), tk_mail_assertion);
}
