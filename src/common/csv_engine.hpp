#pragma once

#include <string>
#include <vector>

// The destination folder of a run: the CSV files it held when the engine was created, how a
// table's base name becomes a file name, and how old files are deleted.
class csv_engine {
public:
    explicit csv_engine(const std::u16string& folder);

    bool is_table_exist(const std::u16string& name) const;
    // The folder, '/', and the base name in lower case with ".csv" unless it ends so already.
    std::u16string get_full_file_name(const std::u16string& name) const;
    // Deletes every file found at creation for that base name (any case of the name); with
    // keep_own, not the one get_full_file_name names (a new file just put in its place).
    void delete_tab(const std::u16string& name, bool keep_own = false);
    // Removes the hidden files a killed run was writing (only names of our own pattern).
    void remove_leftovers();
    void delete_all_tables();

    const std::u16string& folder() const { return m_folder; }
    // Base names in lower case, without ".csv", one per name whatever its spellings.
    const std::vector<std::u16string>& tables() const { return m_tables; }

private:
    size_t find_table(const std::u16string& name) const;

    std::u16string m_folder;
    std::vector<std::u16string> m_tables;
    // Per entry of m_tables: the files found for it as the folder spells them. Linux names are
    // case-sensitive, so Orders.CSV and orders.csv may both be there.
    std::vector<std::vector<std::u16string>> m_files;
};

// Creates a folder with every missing parent. Nothing happens when it exists already.
void common_create_path(const std::u16string& path);
