#include "OLE/ole_date.hpp"

#include "OLE/ole_variant.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {
const char source_name[] = "ole_date";

int count_digits(const std::string& text, int from, int to) {
    if (from < 0 || to < from || size_t(to) > text.size()) return 0;
    int digits = 0;
    for (int i = from; i < to; ++i)
        if (text[size_t(i)] >= '0' && text[size_t(i)] <= '9') ++digits;
    return digits;
}

// `value` in decimal, zero-padded to `width` digits; returns the end.
char* put_number(char* out, unsigned value, int width) {
    char buf[8];
    int n = 0;
    do {
        buf[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = n; i < width; ++i) *out++ = '0';
    while (n) *out++ = buf[--n];
    return out;
}

} // namespace

ole_date::ole_date(const VARIANT& value) {
    TK_TRACE(1, "ole_date::ole_date(VARIANT, vt=%d)", int(value.vt));
    if (value.vt == VT_DATE) {
        if (VariantTimeToSystemTime(value.date, &systemtime)) {
            kind = kind_date_time;
            refine_type();
        } else {
            systemtime = SYSTEMTIME{};
            TK_TRACE(2, "Failed to convert VARIANT->SYSTEMTIME");
        }
        return;
    }
    TK_ASSERT(value.vt == VT_EMPTY || value.vt == VT_NULL, source_name);
}

ole_date::ole_date(const SYSTEMTIME& value) : kind(kind_date_time), systemtime(value) {
    TK_TRACE(1, "ole_date::ole_date(SYSTEMTIME)");
    refine_type();
}

ole_date::ole_date(const char* text) : ole_date(std::string(text ? text : "")) {}

ole_date::ole_date(const std::string& text) {
    TK_TRACE(1, "ole_date::ole_date('%s')", text.c_str());
    parse(text);
}

ole_date::ole_date(const std::u16string& text) {
    // Provider texts are ASCII: skip the code-page conversion for them.
    bool ascii = true;
    for (char16_t c : text)
        if (c >= 0x80) ascii = false;
    // A column's value in the provider's own form is read from a copy on the stack: an export
    // meets one per date-time value.
    if (ascii && text.size() <= 32) {
        char copy[32];
        for (size_t i = 0; i < text.size(); ++i) copy[i] = char(text[i]);
        std::string_view narrow(copy, text.size());
        if (parse_provider_form(narrow)) {
            TK_TRACE(1, "ole_date::ole_date('%.*s')", int(narrow.size()), narrow.data());
            return;
        }
    }
    std::string narrow = ascii ? std::string(text.begin(), text.end()) : tk_to_ansi_lossy(text);
    TK_TRACE(1, "ole_date::ole_date('%s')", narrow.c_str());
    parse(std::move(narrow));
}

void ole_date::parse(std::string original) {
    systemtime = SYSTEMTIME{};
    kind = kind_none;
    if (parse_provider_form(original)) return;
    std::string text = tk_trim(original);
    TK_TRACE(1, "After tk_trim: %s", text.c_str());

    size_t marker = text.find("AM");
    if (marker == std::string::npos) marker = text.find("PM");
    if (marker == std::string::npos) marker = text.find("am");
    if (marker == std::string::npos) marker = text.find("pm");
    if (marker != std::string::npos) text = tk_trim(text.substr(0, marker));
    TK_TRACE(1, "Again buf1=%s", text.c_str());

    if (text.size() <= 4) {
        TK_TRACE(2, "Invalid date/time format: '%s'", text.c_str());
        return;
    }
    import_from_string(text);

    // A day-month-year text read in year-month-day order.
    if ((kind == kind_date_time || kind == kind_date) && systemtime.wDay > 31 && systemtime.wYear < 32) {
        std::swap(systemtime.wDay, systemtime.wYear);
        std::swap(day_digits, year_digits);
    }
    if ((original.find("PM") != std::string::npos || original.find("pm") != std::string::npos) &&
        systemtime.wHour <= 11)
        systemtime.wHour = std::uint16_t(systemtime.wHour + 12);

    // A year written with one or two digits means this century or the last; one written with
    // more digits stays as written (0001-01-01 is a common "no date" value).
    if ((kind == kind_date_time || kind == kind_date) && year_digits >= 1 && year_digits <= 2 &&
        systemtime.wYear < 100)
        systemtime.wYear = std::uint16_t(systemtime.wYear + (systemtime.wYear < 50 ? 2000 : 1900));
}

// "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss" or "yyyy-mm-dd hh:mm:ss.f...", as providers write their
// date-time values, within the ranges the platform's dates hold. The layered parser below spends
// thousands of instructions on such a text (two scans, a tokenizer, then a third scan); this gives
// exactly its result: without a fraction the platform's reading, a whole-second DATE turned back
// into parts; with one the first layout's, milliseconds cut to three digits and no day of the
// week. Any other text (or value) is left to the layered parser.
bool ole_date::parse_provider_form(std::string_view text) {
    auto number = [&](size_t at, size_t count, int& value) {
        value = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    int year, month, day, hour = 0, minute = 0, second = 0, millis = 0;
    if (text.size() < 10 || !number(0, 4, year) || text[4] != '-' || !number(5, 2, month) || text[7] != '-' ||
        !number(8, 2, day))
        return false;
    bool fraction = false;
    if (text.size() > 10) {
        if (text.size() < 19 || text[10] != ' ' || !number(11, 2, hour) || text[13] != ':' ||
            !number(14, 2, minute) || text[16] != ':' || !number(17, 2, second))
            return false;
        if (text.size() > 19) {
            int ignored;
            if (text[19] != '.' || text.size() == 20 || !number(20, text.size() - 20, ignored)) return false;
            fraction = true;
            for (size_t i = 20; i < 23; ++i) millis = millis * 10 + (i < text.size() ? text[i] - '0' : 0);
        }
    }
    return from_parts(year, month, day, hour, minute, second, fraction ? 1 : 0, millis);
}

bool ole_date::from_parts(int year, int month, int day, int hour, int minute, int second, int digits, int millis) {
    const bool fraction = digits > 0;
    if (year < 100 || hour > 23 || minute > 59 || second > 59) return false;
    SYSTEMTIME parts{std::uint16_t(year),   std::uint16_t(month),  0, std::uint16_t(day), std::uint16_t(hour),
                     std::uint16_t(minute), std::uint16_t(second), 0};
    DATE value;
    // Also refuses a month or a day the calendar does not have.
    if (!SystemTimeToVariantTime(&parts, &value)) return false;
    if (fraction) {
        parts.wMilliseconds = std::uint16_t(millis);
        systemtime = parts;
        year_digits = 4;
        day_digits = 2;
    } else {
        if (!VariantTimeToSystemTime(value, &systemtime)) return false;
        year_digits = day_digits = 0;
    }
    kind = kind_date_time;
    refine_type();
    return true;
}

void ole_date::import_from_string(const std::string& text) {
    TK_TRACE(1, "ole_date::import_from_string");
    const char* c_text = text.c_str();
    year_digits = day_digits = 0;

    if (text.size() == 14) {
        TK_TRACE(1, "Trying timestamp format (1)...");
        int y, mo, d, h, mi, s, p0 = -1, p1 = -1;
        if (std::sscanf(c_text, "%n%4d%n%02d%02d%02d%02d%02d", &p0, &y, &p1, &mo, &d, &h, &mi, &s) == 6) {
            systemtime =
                SYSTEMTIME{std::uint16_t(y),  std::uint16_t(mo), 0, std::uint16_t(d), std::uint16_t(h),
                           std::uint16_t(mi), std::uint16_t(s),  0};
            kind = kind_date_time;
            if (is_valid()) {
                year_digits = count_digits(text, p0, p1);
                day_digits = 2;
                return;
            }
        }
        systemtime = SYSTEMTIME{};
    }
    if (text.size() == 8) {
        TK_TRACE(1, "Trying timestamp format (2)...");
        int y, mo, d, p0 = -1, p1 = -1;
        if (std::sscanf(c_text, "%n%4d%n%02d%02d", &p0, &y, &p1, &mo, &d) == 3) {
            systemtime = SYSTEMTIME{std::uint16_t(y), std::uint16_t(mo), 0, std::uint16_t(d), 0, 0, 0, 0};
            kind = kind_date;
            if (is_valid()) {
                year_digits = count_digits(text, p0, p1);
                day_digits = 2;
                return;
            }
        }
        systemtime = SYSTEMTIME{};
    }

    std::string seconds(text.size() + 1, '\0');
    TK_TRACE(1, "Trying pure time format...");
    {
        short h, mi;
        if (std::sscanf(c_text, "%hd:%hd:%s", &h, &mi, seconds.data()) == 3) {
            systemtime.wHour = std::uint16_t(h);
            systemtime.wMinute = std::uint16_t(mi);
            kind = kind_time;
            if (is_valid()) {
                process_milliseconds(seconds.c_str());
                return;
            }
        }
        systemtime = SYSTEMTIME{};
    }

    {
        std::u16string wide;
        DATE date = 0;
        if (tk_to_unicode(c_text, wide) &&
            SUCCEEDED(VarDateFromStr(wide.c_str(), LCID_ENGLISH_US, 0, &date)) &&
            VariantTimeToSystemTime(date, &systemtime)) {
            TK_TRACE(1, "Got datetime using Microsoft API");
            kind = kind_date_time;
            refine_type();
            return;
        }
    }

    static const char* const layouts[] = {
        "%n%hd%n-%hd-%n%hd%n %hd:%hd:%s",
        "%n%hd%n/%hd/%n%hd%n %hd:%hd:%s",
        "%n%hd%n.%hd.%n%hd%n %hd:%hd:%s",
    };
    for (int i = 0; i < 3; ++i) {
        TK_TRACE(1, "Trying datetime format #%d", i);
        // Fields a layout reads stay read for the next one.
        short y = short(systemtime.wYear), mo = short(systemtime.wMonth), d = short(systemtime.wDay),
              h = short(systemtime.wHour), mi = short(systemtime.wMinute);
        int p0 = -1, p1 = -1, p2 = -1, p3 = -1;
        int items = std::sscanf(c_text, layouts[i], &p0, &y, &p1, &mo, &p2, &d, &p3, &h, &mi, seconds.data());
        systemtime.wYear = std::uint16_t(y);
        systemtime.wMonth = std::uint16_t(mo);
        systemtime.wDay = std::uint16_t(d);
        systemtime.wHour = std::uint16_t(h);
        systemtime.wMinute = std::uint16_t(mi);
        year_digits = count_digits(text, p0, p1);
        day_digits = count_digits(text, p2, p3);
        if (items == 3) {
            TK_TRACE(1, "Format #%d succeeded (3 items)", i);
            kind = kind_date;
            if (is_valid()) return;
        } else if (items == 6) {
            TK_TRACE(1, "Format #%d succeeded (6 items)", i);
            kind = kind_date_time;
            if (is_valid()) {
                process_milliseconds(seconds.c_str());
                refine_type();
                return;
            }
        }
    }
    kind = kind_none;
    year_digits = day_digits = 0;
    TK_TRACE(2, "Invalid date/time format: '%s'", text.c_str());
}

void ole_date::process_milliseconds(const char* seconds) {
    TK_TRACE(1, "ole_date::process_milliseconds");
    TK_ASSERT(seconds, source_name);
    TK_TRACE(1, "Got row sec: '%s'", seconds);
    // Read exactly as a decimal number: whole seconds, then the fraction truncated to
    // milliseconds (no binary rounding of 59.997 to 996).
    const char* p = seconds;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long whole = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (whole < 100000) whole = whole * 10 + (*p - '0');
    long millis = 0;
    if (*p == '.') {
        ++p;
        for (int i = 0; i < 3; ++i) {
            millis *= 10;
            if (*p >= '0' && *p <= '9') millis += *p++ - '0';
        }
    }
    if (negative) {
        whole = -whole;
        millis = -millis;
    }
    systemtime.wSecond = std::uint16_t(whole);
    TK_TRACE(1, "Got sec: %d", int(whole));
    systemtime.wMilliseconds = std::uint16_t(millis);
    TK_TRACE(1, "Got msec: %d", int(millis));
}

void ole_date::refine_type() {
    const SYSTEMTIME& t = systemtime;
    TK_TRACE(1, "ole_date::refine_type(%d,%d,%d,%d,%d,%d)", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    if (!t.wDay && !t.wMonth && !t.wYear)
        kind = kind_time;
    else if (!t.wHour && !t.wMinute && !t.wSecond && t.wDay && t.wMonth && t.wYear)
        kind = kind_date;
}

bool ole_date::is_valid() const {
    TK_TRACE(1, "ole_date::is_valid");
    const SYSTEMTIME& t = systemtime;
    if (kind == kind_none) return false;
    if (!t.wDay && !t.wMonth && !t.wYear) {
        TK_TRACE(1, "DATETIME is a pute time");
    } else {
        if (!t.wMonth || t.wMonth > 12) {
            TK_TRACE(1, "Invalid month");
            return false;
        }
        if (!t.wDay || !t.wYear || (t.wYear > 31 && t.wDay > 31)) {
            TK_TRACE(1, "Invalid day and/or year");
            return false;
        }
    }
    if (t.wHour > 60 || t.wMinute > 60 || t.wSecond > 60) {
        TK_TRACE(1, "Invalid time");
        return false;
    }
    return true;
}

ole_variant ole_date::to_variant() const {
    TK_TRACE(1, "ole_date::to_variant");
    return ole_variant(systemtime);
}

std::string ole_date::to_string() const {
    std::string out;
    append_string(out);
    return out;
}

void ole_date::append_string(std::string& out) const {
    TK_TRACE(1, "ole_date::to_string");
    const SYSTEMTIME& t = systemtime;
    // Built on the stack and appended at once: an export prints one per date-time value.
    char text[64];
    char* p = text;
    auto append_date = [&] {
        p = put_number(p, t.wYear, 4);
        *p++ = '-';
        p = put_number(p, t.wMonth, 2);
        *p++ = '-';
        p = put_number(p, t.wDay, 2);
    };
    auto append_time = [&] {
        p = put_number(p, t.wHour, 2);
        *p++ = ':';
        p = put_number(p, t.wMinute, 2);
        *p++ = ':';
        p = put_number(p, t.wSecond, 2);
    };
    switch (kind) {
    case kind_date_time:
        TK_TRACE(1, "printing datetime...");
        append_date();
        if (t.wHour || t.wMinute || t.wSecond || !b_full) {
            *p++ = ' ';
            append_time();
        }
        break;
    case kind_date:
        TK_TRACE(1, "printing date...");
        append_date();
        break;
    case kind_time:
        TK_TRACE(1, "printing time...");
        std::memcpy(p, "0000-00-00 ", 11);
        p += 11;
        append_time();
        break;
    default:
        break;
    }
    out.append(text, p);
}

std::u16string ole_date::to_wstring() const {
    TK_TRACE(1, "ole_date::to_wstring");
    std::string text = to_string();
    return std::u16string(text.begin(), text.end());
}
