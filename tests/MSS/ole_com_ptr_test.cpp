#include "MSS/odb_error_object.hpp"
#include "MSS/ole_com_ptr.hpp"
#include "odb_test_util.hpp"

#include <gtest/gtest.h>

TEST(ole_com_ptr, releases_its_reference_and_traces_what_is_left) {
    odb_test::trace_capture trace;
    odb_post_error({{E_FAIL, u"", 0, u"s", u"d"}});
    ole_com_ptr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    ole_com_ptr<IErrorInfo> copy = info; // two references now
    info.reset();
    EXPECT_TRUE(trace.has_line("ole_com_ptr<T>::~ole_com_ptr() - 1 refs left"));
    ole_com_ptr<IErrorRecords> records;
    EXPECT_EQ(copy.query(IID_IErrorRecords, records), S_OK);
    copy.reset();
    records.reset();
    EXPECT_TRUE(trace.has_line("ole_com_ptr<T>::~ole_com_ptr() - 0 refs left"));
}

TEST(ole_com_ptr, using_an_empty_holder_is_an_internal_error) {
    ole_com_ptr<IErrorInfo> empty;
    EXPECT_FALSE(empty);
    BSTR text = nullptr;
    EXPECT_THROW(empty->GetSource(&text), tk_mail_assertion);
    ole_com_ptr<IErrorRecords> records;
    EXPECT_THROW(empty.query(IID_IErrorRecords, records), tk_mail_assertion);
    // No error object waiting: the holder stays empty.
    odb_clear_error();
    EXPECT_EQ(GetErrorInfo(0, empty.put()), S_FALSE);
    EXPECT_FALSE(empty);
}
