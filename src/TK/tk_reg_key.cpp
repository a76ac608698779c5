#include "TK/tk_reg_key.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string home_folder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

// Creates every missing folder of the path, owner-only: the store holds a password.
bool make_folders(const std::string& path) {
    std::string partial;
    size_t from = 0;
    while (from <= path.size()) {
        size_t slash = path.find('/', from);
        if (slash == std::string::npos) slash = path.size();
        partial = path.substr(0, slash);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
        from = slash + 1;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        default:
            return false;
        }
    }
    return true;
}

constexpr const char number_tag[] = "dword:";
constexpr const char string_tag[] = "sz:";

} // namespace

tk_reg_hive tk_reg_hive::current_user() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as every other program does.
    if (config && config[0] == '/') {
        base = config;
    } else {
        std::string home = home_folder();
        if (home.empty()) return tk_reg_hive({});
        base = home + "/.config";
    }
    return tk_reg_hive(base + "/Quorvane/Tabloxa.conf");
}

tk_reg_key::tk_reg_key(std::string path) : m_path(std::move(path)) {
    TK_TRACE(2, "tk_reg_key::ctor(%s)", m_path.c_str());
}

tk_reg_key::~tk_reg_key() {
    close();
}

bool tk_reg_key::open(const tk_reg_hive* parent, int access) {
    TK_TRACE(2, "tk_reg_key::open(%s)", m_path.c_str());
    TK_ASSERT(parent, "tk_regk");
    if (parent->file_name().empty()) return false;

    std::map<std::string, values> store;
    std::ifstream in(parent->file_name(), std::ios::binary);
    if (!in) {
        struct stat st;
        // A missing store is an empty one; one we cannot read must not be overwritten.
        if (stat(parent->file_name().c_str(), &st) == 0 || errno != ENOENT) {
            TK_TRACE(3, "tk_reg_key::open: cannot read %s", parent->file_name().c_str());
            return false;
        }
    } else {
        std::string line;
        values* section = nullptr;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            if (line.front() == '[' && line.back() == ']') {
                section = &store[line.substr(1, line.size() - 2)];
                continue;
            }
            size_t equals = line.find('=');
            if (!section || equals == std::string::npos) {
                TK_TRACE(1, "tk_reg_key::open: line skipped");
                continue;
            }
            std::string name = line.substr(0, equals);
            std::string data = line.substr(equals + 1);
            value v;
            if (data.rfind(number_tag, 0) == 0) {
                std::string digits = data.substr(sizeof(number_tag) - 1);
                char* end = nullptr;
                errno = 0;
                unsigned long long n = std::strtoull(digits.c_str(), &end, 10);
                if (digits.empty() || *end || errno || n > 0xFFFFFFFFull || digits[0] == '-') {
                    TK_TRACE(1, "tk_reg_key::open: bad number for %s", name.c_str());
                    continue;
                }
                v.type = type_number;
                v.number = static_cast<std::uint32_t>(n);
            } else if (data.rfind(string_tag, 0) == 0) {
                std::string text;
                if (!unescape(data.substr(sizeof(string_tag) - 1), text)) {
                    TK_TRACE(1, "tk_reg_key::open: bad string for %s", name.c_str());
                    continue;
                }
                try {
                    v.text = tk_utf8_to_wstring(text);
                } catch (const tk_exception&) {
                    TK_TRACE(1, "tk_reg_key::open: bad text for %s", name.c_str());
                    continue;
                }
                v.type = type_string;
            } else {
                continue;
            }
            section->emplace(name, std::move(v));
        }
        if (in.bad()) return false;
    }

    close();
    m_store = std::move(store);
    m_store[m_path];
    m_file_name = parent->file_name();
    m_writable = (access & all_access) == all_access;
    m_dirty = false;
    m_open = true;
    return true;
}

bool tk_reg_key::close() {
    if (!m_open) return true;
    TK_TRACE(2, "tk_reg_key::close");
    bool written = !m_dirty || write_store();
    m_open = false;
    m_dirty = false;
    m_store.clear();
    return written;
}

const tk_reg_key::value* tk_reg_key::find(const char* name) const {
    auto key = m_store.find(m_path);
    if (key == m_store.end()) return nullptr;
    auto it = key->second.find(name);
    return it == key->second.end() ? nullptr : &it->second;
}

bool tk_reg_key::get_value(std::uint32_t& value, const char* name) {
    TK_ASSERT(name, "tk_regk");
    TK_TRACE(2, "tk_reg_key::get_value(ulong, %s)", name);
    if (!m_open) return false;
    const struct value* v = find(name);
    if (!v) return false;
    TK_TRACE(1, "type=%d, size=%d", v->type, v->type == type_number ? 4 : int(2 * (v->text.size() + 1)));
    if (v->type != type_number) return false;
    value = v->number;
    return true;
}

bool tk_reg_key::get_value(char16_t* buffer, const char* name, std::uint32_t* size) {
    TK_ASSERT(name && size, "tk_regk");
    TK_TRACE(2, "tk_reg_key::get_value(LPWSTR, %s)", name);
    if (!m_open) return false;
    const value* v = find(name);
    if (!v) return false;
    std::uint32_t needed = static_cast<std::uint32_t>(2 * (v->text.size() + 1));
    TK_TRACE(1, "type=%d, size=%d", v->type, v->type == type_number ? 4 : int(needed));
    if (v->type != type_string) return false;
    if (!buffer) {
        *size = needed;
        return true;
    }
    if (*size < needed) {
        *size = needed;
        return false;
    }
    std::memcpy(buffer, v->text.c_str(), needed);
    *size = needed;
    return true;
}

bool tk_reg_key::set_value(std::uint32_t number, const char* name) {
    TK_ASSERT(m_open && name, "tk_regk");
    TK_TRACE(2, "tk_reg_key::set_value(ulong, %s)", name);
    if (!m_writable) return false;
    value& v = m_store[m_path][name];
    v.type = type_number;
    v.number = number;
    v.text.clear();
    m_dirty = true;
    return true;
}

bool tk_reg_key::set_value(const char16_t* text, const char* name) {
    TK_ASSERT(m_open && name && text, "tk_regk");
    TK_TRACE(2, "tk_reg_key::set_value(LPWSTR, %s)", name);
    if (!m_writable) return false;
    value& v = m_store[m_path][name];
    v.type = type_string;
    v.number = 0;
    v.text = text;
    m_dirty = true;
    return true;
}

bool tk_reg_key::serialize(bool store, const char* name, bool& flag) {
    if (!m_open) return false;
    if (store) return set_value(flag ? 1u : 0u, name);
    std::uint32_t number = 0;
    if (!get_value(number, name)) return false;
    flag = number != 0;
    return true;
}

bool tk_reg_key::serialize(bool store, const char* name, int& number) {
    if (!m_open) return false;
    if (store) return set_value(static_cast<std::uint32_t>(number), name);
    std::uint32_t stored = 0;
    if (!get_value(stored, name)) return false;
    number = static_cast<int>(stored);
    return true;
}

bool tk_reg_key::serialize(bool store, const char* name, std::u16string& text) {
    if (!m_open) return false;
    if (store) return set_value(text.c_str(), name);
    std::uint32_t size = 0;
    if (!get_value(nullptr, name, &size) || size <= sizeof(char16_t)) return false;
    std::vector<char16_t> buffer(size, u'\0');
    std::uint32_t buffer_size = static_cast<std::uint32_t>(buffer.size() * sizeof(char16_t));
    if (!get_value(buffer.data(), name, &buffer_size)) return false;
    text.assign(buffer.data());
    return true;
}

bool tk_reg_key::write_store() {
    TK_TRACE(2, "tk_reg_key::write_store(%s)", m_file_name.c_str());
    size_t slash = m_file_name.rfind('/');
    if (slash != std::string::npos && slash > 0 && !make_folders(m_file_name.substr(0, slash))) {
        TK_TRACE(3, "Cannot create the folder of %s", m_file_name.c_str());
        return false;
    }
    std::ostringstream out;
    out << "# Tabloxa settings, written by the program.\n";
    for (const auto& [key, entries] : m_store) {
        if (entries.empty()) continue;
        out << '[' << key << "]\n";
        for (const auto& [name, v] : entries) {
            if (v.type == type_number)
                out << name << '=' << number_tag << v.number << '\n';
            else
                out << name << '=' << string_tag << escape(tk_to_utf8(v.text)) << '\n';
        }
    }
    const std::string bytes = out.str();

    // A temporary file beside the store, renamed over it: a crash never leaves half a file.
    std::string temp = m_file_name + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        TK_TRACE(3, "Cannot create a temporary file for %s", m_file_name.c_str());
        return false;
    }
    bool ok = fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), m_file_name.c_str()) == 0;
    if (!ok) {
        TK_TRACE(3, "Cannot write %s", m_file_name.c_str());
        unlink(temp.c_str());
    }
    return ok;
}
