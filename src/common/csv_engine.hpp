#pragma once

#include <string>
#include <vector>

// The destination folder of a run: the CSV files it held when the engine was created, how a
// table's base name becomes a file name, and how old files are deleted. NAME.csv, NAME.csv.gz
// and NAME.csv.zst are all files of the table NAME.
class csv_engine {
public:
    explicit csv_engine(const std::u16string& folder);

    bool is_table_exist(const std::u16string& name) const;
    // A file of that kind (0 plain, 1 gzip, 2 zstd) for the table.
    bool is_table_exist(const std::u16string& name, int compression) const;
    // The folder, '/', and the base name in lower case with ".csv" unless it ends so already,
    // then ".gz" or ".zst" for a compressed file.
    std::u16string get_full_file_name(const std::u16string& name, int compression = 0) const;
    // Deletes every file found at creation for that base name (any case of the name, any kind);
    // with keep_kind 0 to 2, not the one get_full_file_name names for that kind (a new file just
    // put in its place).
    void delete_tab(const std::u16string& name, int keep_kind = -1);
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
