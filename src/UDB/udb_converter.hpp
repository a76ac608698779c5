#pragma once

#include "TK/tk_converter.hpp"
#include "UDB/udb_profile.hpp"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Name -> query text. std::u16string orders by UTF-16 code units, the order of a run.
using udb_selection = std::map<std::u16string, std::u16string>;

// The settings of every database-to-file converter, and the progress of a run. The progress
// is written by the run and read by the wizard's timer on another thread.
class udb_converter : public tk_converter {
public:
    udb_converter();
    ~udb_converter() override;

    // Reads a profile file into the settings; true when the file was read and applied. `why`
    // as udb_profile::load gives it.
    bool load_profile(const std::u16string& path, std::string* why = nullptr);
    // Writes every persistent setting to a profile file; false when it cannot be written.
    bool store_profile(const std::u16string& path);

    // The generic part of a profile.
    bool load_profile(const udb_profile& profile);
    void store_profile(udb_profile& profile) const;
    // Every part, in order: generic, source, destination. Stops at the first part that fails.
    virtual bool load_all(const udb_profile& profile) { return load_profile(profile); }
    virtual void store_all(udb_profile& profile) const { store_profile(profile); }

    int mode() const { return m_mode; }
    void set_mode(int mode);

    const std::vector<std::u16string>& selected_names() const { return m_selected_names; }
    void set_selected_names(std::vector<std::u16string> names) { m_selected_names = std::move(names); }
    udb_selection& selection() { return m_selection; }
    const udb_selection& selection() const { return m_selection; }
    udb_selection& available_queries() { return m_available_queries; }
    const udb_selection& available_queries() const { return m_available_queries; }

    bool skip_indexes() const { return m_skip_indexes; }
    void set_skip_indexes(bool on) { m_skip_indexes = on; }
    bool only_definitions() const { return m_only_definitions; }
    void set_only_definitions(bool on) { m_only_definitions = on; }

    // Progress.
    std::u16string current_table() const;
    void set_current_table(const std::u16string& name);
    std::atomic<int> records_in_table{0};
    std::atomic<int> records_converted{0};
    std::atomic<int> tables_in_run{0};
    std::atomic<int> tables_done{0};

protected:
    int m_mode = 0;
    std::vector<std::u16string> m_selected_names;
    udb_selection m_selection;
    udb_selection m_available_queries;
    bool m_skip_indexes = false;
    bool m_only_definitions = false;

private:
    mutable std::mutex m_progress_lock;
    std::u16string m_current_table;
};
