#pragma once

#include <string>
#include <vector>

// One absolute path split into drive (always empty here), directory (with leading and trailing
// '/'), name and extension (with its dot).
template <class S> class tk_basic_file_name {
public:
    explicit tk_basic_file_name(const S& path) { initialize(path); }
    explicit tk_basic_file_name(const typename S::value_type* path);

    void initialize(const S& path);

    S get_path() const { return m_drive + m_dir; }
    S full_name() const { return m_drive + m_dir + m_name + m_ext; }
    void set_extension(const S& ext);

    const S& drive() const { return m_drive; }
    const S& dir() const { return m_dir; }
    const S& name() const { return m_name; }
    const S& ext() const { return m_ext; }
    void set_name(const S& name) { m_name = name; }

private:
    S m_drive, m_dir, m_name, m_ext;
};

using tk_file_name = tk_basic_file_name<std::string>;
using tk_file_wname = tk_basic_file_name<std::u16string>;

extern template class tk_basic_file_name<std::string>;
extern template class tk_basic_file_name<std::u16string>;

// A folder entered for a while to list its files. The process's current directory is never
// changed: the folder is remembered and listed by its path.
class tk_temp_chdir {
public:
    explicit tk_temp_chdir(const std::string& path);
    explicit tk_temp_chdir(const std::u16string& path);
    tk_temp_chdir(const tk_temp_chdir&) = delete;
    tk_temp_chdir& operator=(const tk_temp_chdir&) = delete;

    bool entered() const { return m_entered; }
    const std::string& folder() const { return m_folder; }

    // The bare names of the regular files of the folder that match the pattern (a '*' and '?'
    // wildcard, letters in any case), in the order the file system returns them.
    bool find_files(const std::u16string& pattern, std::vector<std::u16string>& names) const;

private:
    void enter(const std::string& path);

    bool m_entered = false;
    std::string m_folder;
};
