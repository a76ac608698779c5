#include "common/csv_engine.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_fname.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/csv_file.hpp"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char16_t csv_ending[] = u".csv";
const char cannot_resolve[] = "The program cannot resolve the path specified";

bool ends_with_csv(const std::u16string& name) {
    return name.ends_with(csv_ending);
}

const char16_t* const kind_endings[] = {u"", u".gz", u".zst"};

// The kind of a file name already lowered, and its base name without the endings.
int split_kind(std::u16string& base) {
    for (int kind = 2; kind >= 1; --kind) {
        std::u16string ending = std::u16string(csv_ending) + kind_endings[kind];
        if (base.ends_with(ending)) {
            base.resize(base.size() - ending.size());
            return kind;
        }
    }
    if (ends_with_csv(base)) base.resize(base.size() - 4);
    return 0;
}

std::u16string join(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty() || folder.back() == u'/') return folder + name;
    return folder + u'/' + name;
}

// The base name in lower case with its ".csv" ending.
std::u16string file_base(const std::u16string& name) {
    std::u16string base = tk_wstring(name).to_lower();
    if (!ends_with_csv(base)) base += csv_ending;
    return base;
}

std::string narrow_path(const std::u16string& path) {
    std::string narrow;
    if (!tk_to_ansi(path, narrow)) throw tk_exception(cannot_resolve, 1);
    return narrow;
}
} // namespace

csv_engine::csv_engine(const std::u16string& folder) : m_folder(folder) {
    TK_WTRACE(2, u"csv_engine::ctor(%s)", folder.c_str());
    tk_temp_chdir dir(folder);
    TK_ASSERT(dir.entered(), "csv_util");
    std::vector<std::u16string> names, more;
    dir.find_files(u"*.csv", names);
    for (const char16_t* pattern : {u"*.csv.gz", u"*.csv.zst"}) {
        dir.find_files(pattern, more);
        names.insert(names.end(), more.begin(), more.end());
    }
    for (auto& name : names) {
        std::u16string base = tk_wstring(name).to_lower();
        split_kind(base);
        size_t at = find_table(base);
        if (at == m_tables.size()) {
            m_tables.push_back(std::move(base));
            m_files.emplace_back();
        }
        m_files[at].push_back(std::move(name));
    }
}

size_t csv_engine::find_table(const std::u16string& name) const {
    size_t at = 0;
    for (; at < m_tables.size(); ++at) {
        TK_WTRACE(1, u"Compare with %s", m_tables[at].c_str());
        if (tk_equal_nocase(name, m_tables[at])) break;
    }
    return at;
}

bool csv_engine::is_table_exist(const std::u16string& name) const {
    TK_WTRACE(1, u"csv_engine::is_table_exist(%s)", name.c_str());
    if (find_table(name) < m_tables.size()) {
        TK_TRACE(1, "table exists");
        return true;
    }
    TK_TRACE(1, "table not found");
    return false;
}

bool csv_engine::is_table_exist(const std::u16string& name, int compression) const {
    size_t at = find_table(name);
    if (at == m_tables.size()) return false;
    for (const std::u16string& file : m_files[at]) {
        std::u16string base = tk_wstring(file).to_lower();
        if (split_kind(base) == compression) return true;
    }
    return false;
}

std::u16string csv_engine::get_full_file_name(const std::u16string& name, int compression) const {
    TK_WTRACE(1, u"csv_engine::get_full_file_name(%s)", name.c_str());
    // Only the base name is lowered: folders on Linux are case-sensitive.
    return join(m_folder, file_base(name) + kind_endings[compression == 1 || compression == 2 ? compression : 0]);
}

void csv_engine::delete_tab(const std::u16string& name, int keep_kind) {
    TK_WTRACE(1, u"csv_engine::delete_tab(%s)", name.c_str());
    size_t at = find_table(name);
    std::vector<std::u16string> files;
    if (at < m_tables.size())
        files.swap(m_files[at]); // a second call finds nothing left to delete
    else
        files.push_back(file_base(name));
    for (const auto& file : files) {
        if (keep_kind >= 0 && file == file_base(name) + kind_endings[keep_kind]) continue;
        std::string path = narrow_path(join(m_folder, file));
        TK_TRACE(1, "Deleting %s", path.c_str());
        if (::unlink(path.c_str()) != 0) throw tk_exception_ex(path + ": ");
    }
}

void csv_engine::remove_leftovers() {
    TK_TRACE(2, "csv_engine::remove_leftovers");
    std::string folder = narrow_path(m_folder.empty() ? u"." : m_folder);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!csv_file::is_partial_name(entry->d_name)) continue;
        std::string path = folder + "/" + entry->d_name;
        TK_TRACE(3, "Removing the unfinished file %s", path.c_str());
        if (::unlink(path.c_str()) != 0) TK_TRACE(3, "Cannot remove %s: %s", path.c_str(), std::strerror(errno));
    }
    ::closedir(dir);
}

void csv_engine::delete_all_tables() {
    TK_TRACE(2, "csv_engine::delete_all_tables");
    for (size_t i = 0; i < m_tables.size(); ++i) delete_tab(m_tables[i]);
}

void common_create_path(const std::u16string& path) {
    TK_WTRACE(2, u"common_create_path(%s)", path.c_str());
    if (tk_is_path_exist(path)) return;

    std::u16string parent = path;
    while (parent.size() > 1 && parent.back() == u'/') parent.pop_back();
    std::vector<std::u16string> levels;
    for (;;) {
        size_t slash = parent.rfind(u'/');
        std::u16string level = slash == std::u16string::npos ? parent : parent.substr(slash + 1);
        // "a//b" names the same folder as "a/b": an empty level is no folder to create.
        if (!level.empty()) {
            TK_WTRACE(1, u"Store level '%s'", level.c_str());
            levels.push_back(std::move(level));
        }
        // A relative path grows from the current folder.
        // (One character assigned, not a literal: GCC 12 warns of an overlap that cannot be.)
        if (slash == std::u16string::npos)
            parent.assign(1, u'.');
        else
            parent.resize(slash == 0 ? 1 : slash);
        TK_WTRACE(1, u"Drivepath=%s", parent.c_str());
        if (parent.empty()) throw tk_exception(cannot_resolve, 1);
        if (tk_is_path_exist(parent)) break;
        if (parent == u"/") throw tk_exception(cannot_resolve, 1);
    }

    std::u16string current = parent;
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        current = join(current, *level);
        TK_WTRACE(1, u"tmp_path=%s", current.c_str());
        std::string narrow = narrow_path(current);
        if (::mkdir(narrow.c_str(), 0777) != 0) {
            int error = errno;
            // Another process may have made it meanwhile; only a folder will do.
            if (error == EEXIST && tk_is_path_exist(narrow)) continue;
            throw tk_exception_ex(narrow + ": ", error);
        }
    }
}
