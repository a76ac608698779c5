#pragma once

#include <cstdint>
#include <map>
#include <string>

// The user's store of typed settings: one small file, each key a section of typed values.
// $XDG_CONFIG_HOME/Quorvane/Tabloxa.conf, ~/.config when the variable is unset or relative.
class tk_reg_hive {
public:
    explicit tk_reg_hive(std::string file_name) : m_file_name(std::move(file_name)) {}
    // The current user's store; empty file name when no home folder can be found.
    static tk_reg_hive current_user();
    const std::string& file_name() const { return m_file_name; }

private:
    std::string m_file_name;
};

// One key of the store, opened with creation. Values are 32-bit numbers or wide strings.
// Reads come from the copy taken when the key was opened; writes reach the file when the key
// is closed (atomically, owner-only: it holds a password).
class tk_reg_key {
public:
    enum { read_access = 1, all_access = 3 };
    enum value_type { type_none = 0, type_string = 1, type_number = 4 };

    explicit tk_reg_key(std::string path);
    ~tk_reg_key();
    tk_reg_key(const tk_reg_key&) = delete;
    tk_reg_key& operator=(const tk_reg_key&) = delete;

    // Creates the key when missing. False when the store exists but cannot be read.
    bool open(const tk_reg_hive* parent, int access);
    bool is_open() const { return m_open; }
    // Writes pending changes; false when they could not be written.
    bool close();

    bool get_value(std::uint32_t& value, const char* name);
    // With a null buffer only the size in bytes (terminator included) is returned.
    bool get_value(char16_t* buffer, const char* name, std::uint32_t* size);
    bool set_value(std::uint32_t value, const char* name);
    bool set_value(const char16_t* text, const char* name);

    // Typed exchange: load (store == false) or store one setting. Nothing happens on a closed
    // key; a value that cannot be read leaves the setting as it was.
    bool serialize(bool store, const char* name, bool& value);
    bool serialize(bool store, const char* name, int& value);
    bool serialize(bool store, const char* name, std::u16string& value);

    const std::string& path() const { return m_path; }

private:
    struct value {
        value_type type = type_none;
        std::uint32_t number = 0;
        std::u16string text;
    };
    using values = std::map<std::string, value>;

    const value* find(const char* name) const;
    bool write_store();

    std::string m_path;
    std::string m_file_name;
    bool m_open = false;
    bool m_writable = false;
    bool m_dirty = false;
    // Every key of the store, so that writing one key keeps the others.
    std::map<std::string, values> m_store;
};
