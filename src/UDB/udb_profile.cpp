#include "UDB/udb_profile.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const udb_profile::section no_section;

std::u16string section_line(const std::u16string& name) {
    return u"[" + name + u"]";
}
} // namespace

udb_profile::udb_profile() {
    m_sections[udb_available_queries];
    m_sections[udb_selected_tables];
    m_sections[udb_generic_settings];
}

void udb_profile::set_value(const std::u16string& section_name, const std::u16string& key,
                            const std::u16string& value) {
    m_sections[section_name].emplace(key, value);
}

std::u16string udb_profile::get_value(const std::u16string& section_name, const std::u16string& key) const {
    auto s = m_sections.find(section_name);
    if (s == m_sections.end()) return {};
    auto k = s->second.find(key);
    return k == s->second.end() ? std::u16string() : k->second;
}

const udb_profile::section& udb_profile::get_section(const std::u16string& section_name) const {
    auto s = m_sections.find(section_name);
    return s == m_sections.end() ? no_section : s->second;
}

bool udb_profile::load(const std::u16string& path, std::string* why) {
    TK_WTRACE(2, u"udb_profile::load(%s)", path.c_str());
    auto refuse = [why](std::string reason) {
        TK_TRACE(3, "Profile refused: %s", reason.c_str());
        if (why) *why = std::move(reason);
        return false;
    };
    std::string narrow;
    if (!tk_to_ansi(path, narrow)) return refuse("cannot be read: the name cannot be written in the encoding " + tk_ansi_codeset());
    // A file that is there but cannot be opened is not a missing one.
    struct stat st;
    if (::stat(narrow.c_str(), &st) != 0 && errno != ENOENT && errno != ENOTDIR)
        return refuse(std::string("cannot be read: ") + std::strerror(errno));
    if (::stat(narrow.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw tk_exception("Profile does not exist. Please verify the correct path/name was given.", 1);
    std::ifstream file(narrow, std::ios::binary);
    if (!file) return refuse(std::string("cannot be read: ") + std::strerror(errno));

    // Read into a copy so that a file refused half way applies nothing.
    std::map<std::u16string, section> read = m_sections;
    section* current = nullptr;
    std::string bytes;
    int number = 0;
    // Lines of any length: a stored query may be long.
    while (std::getline(file, bytes)) {
        ++number;
        // Editors on other systems start a UTF-8 file with a byte-order mark.
        if (number == 1 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
        if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
        std::u16string line;
        try {
            line = tk_trim(tk_utf8_to_wstring(bytes));
        } catch (const tk_exception& e) {
            return refuse("is not valid: line " + std::to_string(number) + ": " + e.message());
        }
        if (line.empty()) continue;
        if (line.front() == u'[' && line.back() == u']' && line.size() >= 2) {
            current = &read[line.substr(1, line.size() - 2)];
            continue;
        }
        if (!current) return refuse("is not valid: line " + std::to_string(number) + " is outside any section");
        size_t eq = line.find(u'=');
        if (eq == std::u16string::npos)
            current->emplace(line, std::u16string());
        else
            current->emplace(tk_trim(line.substr(0, eq)), line.substr(eq + 1));
    }
    if (file.bad()) return refuse(std::string("cannot be read: ") + std::strerror(errno));
    m_sections = std::move(read);
    return true;
}

std::string udb_profile::to_bytes() const {
    std::u16string text;
    for (const auto& [name, keys] : m_sections) {
        text += section_line(name) + u"\r\n";
        bool selected = name == udb_selected_tables;
        for (const auto& [key, value] : keys) {
            text += key;
            if (!(selected && value.empty())) text += u"=" + value;
            text += u"\r\n";
        }
        text += u"\r\n";
    }
    return tk_to_utf8(text);
}

bool udb_profile::store(const std::u16string& path) const {
    TK_TRACE(2, "udb_profile::store");
    std::string narrow;
    if (!tk_to_ansi(path, narrow)) return false;
    std::string bytes = to_bytes();
    int fd = ::open(narrow.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    // An existing file may have been readable by others; the password must not be.
    bool ok = ::fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

std::u16string udb_flatten_query(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size() + 8);
    enum { plain, quoted, line_comment, block_comment } state = plain;
    char16_t close_quote = 0;
    int depth = 0; // block comments nest
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        char16_t next = i + 1 < text.size() ? text[i + 1] : 0;
        bool line_break = c == u'\r' || c == u'\n';
        if (line_break) {
            if (c == u'\r' && next == u'\n') ++i;
            if (state == line_comment) {
                out += u" */";
                state = plain;
            }
            out += u' ';
            continue;
        }
        switch (state) {
        case plain:
            if (c == u'\'' || c == u'"' || c == u'[') {
                state = quoted;
                close_quote = c == u'[' ? u']' : c;
            } else if (c == u'-' && next == u'-') {
                out += u"/*";
                ++i;
                state = line_comment;
                continue;
            } else if (c == u'/' && next == u'*') {
                out += u"/*";
                ++i;
                depth = 1;
                state = block_comment;
                continue;
            }
            break;
        case quoted:
            // A doubled closing character stands for itself.
            if (c == close_quote) {
                if (next == close_quote) {
                    out += c;
                    ++i;
                } else {
                    state = plain;
                }
            }
            break;
        case line_comment:
            // Inside what becomes a block comment, a comment mark would end or nest it.
            if ((c == u'*' && next == u'/') || (c == u'/' && next == u'*')) {
                out += c;
                out += u' ';
                continue;
            }
            break;
        case block_comment:
            if (c == u'/' && next == u'*') {
                ++depth;
                out += u"/*";
                ++i;
                continue;
            }
            if (c == u'*' && next == u'/') {
                out += u"*/";
                ++i;
                if (--depth == 0) state = plain;
                continue;
            }
            break;
        }
        out += c;
    }
    if (state == line_comment) out += u" */";
    return out;
}
