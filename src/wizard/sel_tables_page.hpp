#pragma once

#include "GUI2/wizard_page.hpp"
#include "UDB/udb_converter.hpp"

#include <string>
#include <vector>

class sorted_list;

// Step 3: the tables and the queries to convert. A list item is a query when its name is a key
// of one of the two query maps; every other item is a table.
class sel_tables_page : public wizard_page {
public:
    enum {
        dialog = 127,
        id_guidance = 1337,
        id_available = 1317,
        id_selected = 1318,
        id_available_label = 1334,
        id_selected_label = 1312,
        id_add = 1101,
        id_add_all = 1102,
        id_remove = 1111,
        id_remove_all = 1110,
        id_add_query = 1114,
    };

    sel_tables_page();

    void create_controls(QWizardPage* page) override;
    bool page_init() override;
    bool on_next() override;
    // Keeps the choices for the next visit, without the question of Next.
    bool on_back() override;

    void on_add();
    void on_add_all();
    void on_delete();
    void on_del_all();
    void on_add_query();
    void on_edit_query();

    const udb_selection& selected_queries() const { return m_selected_queries; }
    const udb_selection& available_queries() const { return m_available_queries; }

    // Asks for a query's name and text in the "Add Query" dialog; false on Cancel.
    bool ask_query(std::u16string& name, std::u16string& text);

private:
    sorted_list* available() const;
    sorted_list* selected() const;
    void do_page_init();
    // The lists into the run settings; for a later visit, the tables in the selection too.
    void store(bool tables_in_selection);
    void restore_selection();
    // Moves one item between the lists, carrying a query from one map to the other.
    void move_to_selected(int row);
    void move_to_available(int row);
    bool is_query(const std::u16string& name) const;
    // True when a list holds the name in any letter case, `except` (exact) aside.
    bool listed_nocase(const std::u16string& name, const std::u16string& except = {}) const;

    std::vector<std::u16string> m_all_tables;
    udb_selection m_selected_queries;
    udb_selection m_available_queries;
    std::u16string m_empty_question = u"There are no tables selected. Continue anyway?";
    // Why the tables could not be listed; Next stays on the page then.
    std::string m_list_error;
};
