#pragma once

#include "OLE/ole_auto.hpp"

#include <string>
#include <string_view>

class ole_variant;

// A date-time with a layered text parser and three print forms.
class ole_date {
public:
    enum : int { kind_none = 0, kind_date_time = 1, kind_date = 2, kind_time = 3 };

    explicit ole_date(const VARIANT& value);
    explicit ole_date(const SYSTEMTIME& value);
    explicit ole_date(const char* text);
    explicit ole_date(const std::string& text);
    explicit ole_date(const std::u16string& text);

    // The value the parser gives the provider's text of these parts: "yyyy-mm-dd hh:mm:ss" with a
    // fraction of `digits` digits whose first three make `millis` ("yyyy-mm-dd" reads as midnight
    // without one). False for a value that text would not read this way (the full parser then
    // decides).
    bool from_parts(int year, int month, int day, int hour, int minute, int second, int digits, int millis);

    bool is_valid() const;
    void refine_type();
    ole_variant to_variant() const;
    // "yyyy-mm-dd hh:mm:ss", "yyyy-mm-dd" or "0000-00-00 hh:mm:ss"; empty when there is no value.
    std::string to_string() const;
    void append_string(std::string& out) const; // the same, appended to `out`
    std::u16string to_wstring() const;

    bool b_full = true;
    int kind = kind_none;
    SYSTEMTIME systemtime{};

private:
    void parse(std::string text);
    bool parse_provider_form(std::string_view text);
    void import_from_string(const std::string& text);
    void process_milliseconds(const char* seconds);

    // Digits the parser read for the year (and for the day, which may turn out to be the year).
    int year_digits = 0;
    int day_digits = 0;
};
