#pragma once

#include "GUI2/wizard_page.hpp"

// Step 2: the database, the destination folder and the CSV options.
class sel_file_page : public wizard_page {
public:
    enum {
        dialog = 105,
        id_databases = 1317,
        id_folder = 1004,
        id_browse = 1103,
        id_tab = 1329,
        id_semicolon = 1330,
        id_comma = 1331,
        id_include_fnames = 1202,
        id_definitions_only = 1228,
    };

    sel_file_page();

    void create_controls(QWizardPage* page) override;
    bool page_init() override;
    bool on_next() override;
    bool on_back() override;
    void on_browse_dest();

    // True when the server refused to list its databases: the list then takes a typed name.
    bool typed_name() const { return m_typed_name; }

private:
    void fill_databases();
    void store();

    bool m_typed_name = false;
};
