#include "TK/tk_fname.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cerrno>
#include <dirent.h>
#include <fnmatch.h>
#include <limits.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
template <class S> S widen_ascii(const char* text) {
    S out;
    for (; *text; ++text) out += static_cast<typename S::value_type>(*text);
    return out;
}

std::string current_dir() {
    char buffer[PATH_MAX + 1];
    if (!getcwd(buffer, sizeof buffer)) throw tk_mail_assertion("tk_fname", __LINE__);
    return buffer;
}

template <class S> S absolute(const S& path);
template <> std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    return current_dir() + "/" + path;
}
template <> std::u16string absolute(const std::u16string& path) {
    if (!path.empty() && path[0] == u'/') return path;
    return tk_ansi_to_wstring(current_dir()) + u"/" + path;
}

template <class S> S module_name();
template <> std::string module_name() {
    return tk_get_module_name();
}
template <> std::u16string module_name() {
    return tk_get_module_wname();
}

struct dir_closer {
    void operator()(DIR* d) const { closedir(d); }
};
} // namespace

template <class S> tk_basic_file_name<S>::tk_basic_file_name(const typename S::value_type* path) {
    if (!path) throw tk_mail_assertion("tk_fname", __LINE__);
    initialize(S(path));
}

template <class S> void tk_basic_file_name<S>::initialize(const S& path) {
    using C = typename S::value_type;
    bool program = path.empty();
    S full = absolute<S>(program ? module_name<S>() : path);
    size_t slash = full.rfind(C('/'));
    m_drive.clear();
    m_dir = full.substr(0, slash + 1);
    S file = full.substr(slash + 1);
    size_t dot = file.rfind(C('.'));
    if (dot == S::npos || dot == 0) {
        m_name = file;
        m_ext.clear();
    } else {
        m_name = file.substr(0, dot);
        m_ext = file.substr(dot);
    }
    // An empty path designates the program's folder.
    if (program) m_name.clear();
}

template <class S> void tk_basic_file_name<S>::set_extension(const S& ext) {
    using C = typename S::value_type;
    m_ext = ext;
    if (!ext.empty() && ext[0] != C('.')) m_ext.insert(m_ext.begin(), C('.'));
}

template class tk_basic_file_name<std::string>;
template class tk_basic_file_name<std::u16string>;

tk_temp_chdir::tk_temp_chdir(const std::string& path) {
    enter(path);
}

tk_temp_chdir::tk_temp_chdir(const std::u16string& path) {
    std::string narrow;
    if (tk_to_ansi(path, narrow)) enter(narrow);
}

void tk_temp_chdir::enter(const std::string& path) {
    m_folder = path.empty() ? tk_get_module_path() : path;
    m_entered = tk_is_path_exist(m_folder);
}

bool tk_temp_chdir::find_files(const std::u16string& pattern, std::vector<std::u16string>& names) const {
    TK_WTRACE(2, u"tk_temp_chdir::find_files(%s)", pattern.c_str());
    names.clear();
    std::string narrow_pattern;
    if (!m_entered || !tk_to_ansi(pattern, narrow_pattern)) {
        TK_TRACE(1, "No files found");
        return false;
    }
    std::unique_ptr<DIR, dir_closer> dir(opendir(m_folder.c_str()));
    if (!dir) {
        TK_TRACE(1, "No files found");
        return false;
    }
    std::string prefix = m_folder;
    if (prefix.back() != '/') prefix += '/';
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                TK_TRACE(1, "Couldn't find next file");
                return false;
            }
            break;
        }
        if (fnmatch(narrow_pattern.c_str(), entry->d_name, FNM_CASEFOLD | FNM_PERIOD) != 0) continue;
        // Only regular files are table files; a folder named x.csv is not one.
        struct stat st;
        if (::stat((prefix + entry->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        std::u16string name;
        if (!tk_to_unicode(entry->d_name, name)) name = tk_utf8_to_wstring_lossy(entry->d_name);
        TK_TRACE(1, "Found file: %s", entry->d_name);
        names.push_back(std::move(name));
    }
    if (names.empty()) {
        TK_TRACE(1, "No files found");
        return false;
    }
    TK_TRACE(1, "No more files");
    return true;
}
