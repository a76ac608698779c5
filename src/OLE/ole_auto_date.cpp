#include "OLE/ole_auto.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// DATE counts days from 1899-12-30. Before that day the whole part counts back while the fraction
// still counts forward from midnight: -1.25 is 1899-12-29 06:00.

namespace {
constexpr double min_date = -657434.0;   // 0100-01-01
constexpr double max_date = 2958465.0;   // 9999-12-31
constexpr int two_digit_year_max = 2049; // 50 reads 1950, 49 reads 2049

long days_from_civil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + long(doe) - 719468;
}

void civil_from_days(long z, long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = long(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const long epoch = days_from_civil(1899, 12, 30);

bool leap(long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned days_in_month(long y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

DATE make_date(long day, long seconds) {
    double fraction = double(seconds) / 86400.0;
    return day >= 0 ? double(day) + fraction : double(day) - fraction;
}

// --- English (United States) date parser ---

struct token {
    enum kind_t { number, word, separator } kind = number;
    long value = 0;   // number
    int digits = 0;   // number
    std::string text; // word, lower case
    char sep = 0;     // separator
};

bool tokenize(const OLECHAR* text, std::vector<token>& out) {
    for (const OLECHAR* p = text; *p;) {
        char16_t c = *p;
        if (c >= '0' && c <= '9') {
            token t;
            t.kind = token::number;
            while (*p >= '0' && *p <= '9') {
                if (++t.digits > 9) return false;
                t.value = t.value * 10 + (*p++ - '0');
            }
            out.push_back(t);
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            token t;
            t.kind = token::word;
            while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) {
                char16_t l = *p++;
                t.text += char(l >= 'A' && l <= 'Z' ? l + 32 : l);
            }
            out.push_back(t);
        } else if (c == '/' || c == '-' || c == '.' || c == ',' || c == ':' || c == ' ' || c == '\t') {
            token t;
            t.kind = token::separator;
            t.sep = c == '\t' ? ' ' : char(c);
            out.push_back(t);
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

int month_from_name(const std::string& word) {
    static const char* names[] = {"january", "february", "march",     "april",   "may",      "june",
                                  "july",    "august",   "september", "october", "november", "december"};
    for (int i = 0; i < 12; ++i) {
        std::string full = names[i];
        if (word == full || (word.size() == 3 && full.compare(0, 3, word) == 0)) return i + 1;
    }
    if (word == "sept") return 9;
    return 0;
}

bool is_marker(const std::string& word) {
    return word == "am" || word == "pm" || word == "a" || word == "p";
}

long widen_year(const token& t) {
    if (t.digits > 2) return t.value;
    long century_max = two_digit_year_max % 100;
    return t.value <= century_max ? two_digit_year_max - century_max + t.value
                                  : two_digit_year_max - century_max - 100 + t.value;
}

long current_year() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900L;
}

HRESULT parse_date(const OLECHAR* text, DATE* out) {
    std::vector<token> tokens;
    if (!tokenize(text, tokens)) return DISP_E_TYPEMISMATCH;
    auto is_sep = [&](size_t i, char c) {
        return i < tokens.size() && tokens[i].kind == token::separator && tokens[i].sep == c;
    };
    auto is_num = [&](size_t i) { return i < tokens.size() && tokens[i].kind == token::number; };

    bool has_time = false, pm = false, am = false;
    long hour = 0, minute = 0, second = 0;
    std::vector<token> numbers;
    int month_name = 0;
    bool month_first = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const token& t = tokens[i];
        if (t.kind == token::separator) continue;
        if (t.kind == token::word) {
            if (is_marker(t.text)) {
                if (am || pm) return DISP_E_TYPEMISMATCH;
                (t.text[0] == 'a' ? am : pm) = true;
                continue;
            }
            int m = month_from_name(t.text);
            if (!m || month_name) return DISP_E_TYPEMISMATCH;
            month_name = m;
            month_first = numbers.empty();
            continue;
        }
        if (is_sep(i + 1, ':') && is_num(i + 2)) {
            if (has_time) return DISP_E_TYPEMISMATCH;
            has_time = true;
            hour = t.value;
            minute = tokens[i + 2].value;
            i += 2;
            if (is_sep(i + 1, ':') && is_num(i + 2)) {
                second = tokens[i + 2].value;
                i += 2;
            }
            // Fractions of a second are refused.
            if (is_sep(i + 1, '.') && is_num(i + 2)) return DISP_E_TYPEMISMATCH;
            if (is_sep(i + 1, ':')) return DISP_E_TYPEMISMATCH;
            continue;
        }
        // "3 PM": an hour alone before its marker.
        size_t next = i + 1;
        while (is_sep(next, ' ')) ++next;
        if (!has_time && next < tokens.size() && tokens[next].kind == token::word &&
            is_marker(tokens[next].text)) {
            has_time = true;
            hour = t.value;
            continue;
        }
        numbers.push_back(t);
    }
    if ((am || pm) && !has_time) return DISP_E_TYPEMISMATCH;

    long year = 1899, month = 12, day = 30;
    bool has_date = true;
    auto year_or_day_first = [&](const token& first) { return first.digits > 2 || first.value > 31; };
    if (month_name) {
        month = month_name;
        if (numbers.size() == 1) {
            if (year_or_day_first(numbers[0])) {
                year = widen_year(numbers[0]);
                day = 1;
            } else {
                year = current_year();
                day = numbers[0].value;
            }
        } else if (numbers.size() == 2) {
            if (year_or_day_first(numbers[0]) && !month_first) {
                year = widen_year(numbers[0]);
                day = numbers[1].value;
            } else {
                day = numbers[0].value;
                year = widen_year(numbers[1]);
            }
        } else {
            return DISP_E_TYPEMISMATCH;
        }
    } else if (numbers.size() == 3) {
        if (numbers[0].digits > 2) {
            year = widen_year(numbers[0]);
            month = numbers[1].value;
            day = numbers[2].value;
        } else {
            month = numbers[0].value;
            day = numbers[1].value;
            year = widen_year(numbers[2]);
        }
    } else if (numbers.size() == 2) {
        month = numbers[0].value;
        if (year_or_day_first(numbers[1])) {
            year = widen_year(numbers[1]);
            day = 1;
        } else {
            year = current_year();
            day = numbers[1].value;
        }
    } else if (numbers.empty()) {
        has_date = false;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    if (!has_date && !has_time) return DISP_E_TYPEMISMATCH;
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > long(days_in_month(year, unsigned(month))))
        return DISP_E_TYPEMISMATCH;
    // A marker after an hour above 12 is ignored; 0 and 12 AM are midnight, 0 and 12 PM noon.
    if ((am || pm) && hour <= 12) {
        if (hour == 12) hour = 0;
        if (pm) hour += 12;
    }
    if (hour > 23 || minute > 59 || second > 59) return DISP_E_TYPEMISMATCH;
    *out = make_date(days_from_civil(year, unsigned(month), unsigned(day)) - epoch,
                     hour * 3600 + minute * 60 + second);
    return S_OK;
}
} // namespace

HRESULT VarDateFromStr(const OLECHAR* text, LCID, std::uint32_t, DATE* out) {
    if (!out) return E_INVALIDARG;
    if (!text) return DISP_E_TYPEMISMATCH;
    return parse_date(text, out);
}

int SystemTimeToVariantTime(const SYSTEMTIME* time, DATE* out) {
    if (!time || !out) return 0;
    long year = time->wYear;
    unsigned month = time->wMonth, day = time->wDay;
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month))
        return 0;
    if (time->wHour > 23 || time->wMinute > 59 || time->wSecond > 59) return 0;
    *out = make_date(days_from_civil(year, month, day) - epoch,
                     long(time->wHour) * 3600 + time->wMinute * 60L + time->wSecond);
    return 1;
}

int VariantTimeToSystemTime(DATE value, SYSTEMTIME* out) {
    if (!out || !(value > min_date - 1.0 && value < max_date + 1.0)) return 0;
    double whole = std::trunc(value);
    long day = long(whole);
    long seconds = std::lround(std::fabs(value - whole) * 86400.0);
    if (seconds >= 86400) {
        ++day;
        seconds -= 86400;
    }
    long calendar_day = day + epoch;
    long y;
    unsigned m, d;
    civil_from_days(calendar_day, y, m, d);
    if (y < 100 || y > 9999) return 0;
    out->wYear = std::uint16_t(y);
    out->wMonth = std::uint16_t(m);
    out->wDay = std::uint16_t(d);
    long weekday = (calendar_day + 4) % 7; // 1970-01-01 was a Thursday
    out->wDayOfWeek = std::uint16_t(weekday < 0 ? weekday + 7 : weekday);
    out->wHour = std::uint16_t(seconds / 3600);
    out->wMinute = std::uint16_t(seconds / 60 % 60);
    out->wSecond = std::uint16_t(seconds % 60);
    out->wMilliseconds = 0;
    return 1;
}

HRESULT VarBstrFromDate(DATE value, LCID, std::uint32_t, BSTR* out) {
    if (!out) return E_INVALIDARG;
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(value, &st)) return E_INVALIDARG;
    std::string text;
    bool day_zero = std::trunc(value) == 0.0;
    bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
    if (!day_zero || midnight) {
        text = std::to_string(st.wMonth) + "/" + std::to_string(st.wDay) + "/" + std::to_string(st.wYear);
        if (day_zero) text.clear();
    }
    if (!midnight || day_zero) {
        int hour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", hour12, st.wMinute, st.wSecond,
                      st.wHour < 12 ? "AM" : "PM");
        if (!text.empty()) text += ' ';
        text += buf;
    }
    std::u16string wide(text.begin(), text.end());
    *out = SysAllocStringLen(wide.data(), std::uint32_t(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}
