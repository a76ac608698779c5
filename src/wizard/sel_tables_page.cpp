#include "wizard/sel_tables_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/set_query_dlg.hpp"
#include "wizard/sorted_list.hpp"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizardPage>

namespace {

drelk_converter& converter() {
    drelk_converter* converter = drelk_converter::instance();
    TK_ASSERT(converter, "..\\common/mss_set");
    return *converter;
}

} // namespace

sel_tables_page::sel_tables_page()
    : wizard_page(dialog, u"Step 3 of 4", u"Select tables", 1014, button_back | button_next) {}

void sel_tables_page::create_controls(QWizardPage* page) {
    auto* layout = new QVBoxLayout(page);
    auto* guidance = new QLabel(page);
    g_set_id(guidance, id_guidance);
    layout->addWidget(guidance);

    auto* grid = new QGridLayout;
    auto* available_label = new QLabel(page);
    g_set_id(available_label, id_available_label);
    auto* selected_label = new QLabel(page);
    g_set_id(selected_label, id_selected_label);
    auto* available_list = new sorted_list(page);
    g_set_id(available_list, id_available);
    auto* selected_list = new sorted_list(page);
    g_set_id(selected_list, id_selected);
    available_label->setBuddy(available_list);
    selected_label->setBuddy(selected_list);
    grid->addWidget(available_label, 0, 0);
    grid->addWidget(selected_label, 0, 2);
    grid->addWidget(available_list, 1, 0);
    grid->addWidget(selected_list, 1, 2);

    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    struct button_def {
        int id;
        const char* text;
        void (sel_tables_page::*handler)();
    };
    const button_def defs[] = {{id_add, "A&dd >", &sel_tables_page::on_add},
                               {id_add_all, "Add a&ll >", &sel_tables_page::on_add_all},
                               {id_remove, "< &Remove", &sel_tables_page::on_delete},
                               {id_remove_all, "< Re&move all", &sel_tables_page::on_del_all},
                               {id_add_query, "&Add Query", &sel_tables_page::on_add_query}};
    for (const button_def& def : defs) {
        auto* button = new QPushButton(def.text, page);
        g_set_id(button, def.id);
        if (def.id == id_add_query) {
            buttons->addSpacing(12);
            // Shown by the page's initialisation.
            button->hide();
        }
        buttons->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, page,
                         [this, handler = def.handler] { g_guarded([&] { (this->*handler)(); }); });
    }
    buttons->addStretch(1);
    grid->addLayout(buttons, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid, 1);

    QObject::connect(available_list, &QListWidget::itemDoubleClicked, page,
                     [this] { g_guarded([this] { on_add(); }); });
    QObject::connect(selected_list, &QListWidget::itemDoubleClicked, page,
                     [this] { g_guarded([this] { on_edit_query(); }); });
}

sorted_list* sel_tables_page::available() const {
    return g_find<sorted_list>(widget(), id_available);
}

sorted_list* sel_tables_page::selected() const {
    return g_find<sorted_list>(widget(), id_selected);
}

bool sel_tables_page::page_init() {
    TK_TRACE(2, "sel_tables_page::page_init");
    QWizardPage* page = widget();
    if (auto* label = g_find<QLabel>(page, id_guidance))
        label->setText("Select MS SQL tables to convert into CSV format.");
    if (auto* label = g_find<QLabel>(page, id_available_label)) label->setText("&Available tables:");
    if (auto* label = g_find<QLabel>(page, id_selected_label)) label->setText("&Selected tables:");
    m_all_tables.clear();
    m_selected_queries.clear();
    m_available_queries.clear();
    m_list_error.clear();
    try {
        converter().get_all_tables(m_all_tables);
    } catch (const tk_exception& e) {
        if (e.level() >= 2) throw;
        // The page stays with the queries; the user may go back and choose another database.
        m_all_tables.clear();
        m_list_error = e.message();
        wizard_shell::error(e.message());
    }
    do_page_init();
    if (auto* button = g_find(page, id_add_query)) button->show();
    restore_selection();
    return true;
}

void sel_tables_page::do_page_init() {
    TK_TRACE(2, "sel_tables_page::do_page_init");
    sorted_list* from = available();
    sorted_list* to = selected();
    if (!from || !to) return;
    from->clear_all();
    to->clear_all();
    for (const std::u16string& name : m_all_tables) from->add(g_qstring(name));
    if (from->count() > 0) from->select_row(0);
}

void sel_tables_page::restore_selection() {
    drelk_converter& settings = converter();
    sorted_list* from = available();
    sorted_list* to = selected();
    if (!from || !to) return;
    for (const auto& [name, text] : settings.selection()) {
        QString shown = g_qstring(name);
        if (!text.empty() && from->find_exact(shown) < 0 && to->find_exact(shown) < 0) {
            to->add(shown);
            m_selected_queries[name] = text;
        }
        int row = from->find_exact(shown);
        if (row >= 0) move_to_selected(row);
    }
    m_available_queries = settings.available_queries();
    for (const auto& [name, text] : m_available_queries)
        if (!text.empty() && from->find_exact(g_qstring(name)) < 0) from->add(g_qstring(name));
}

bool sel_tables_page::is_query(const std::u16string& name) const {
    return m_selected_queries.contains(name) || m_available_queries.contains(name);
}

bool sel_tables_page::listed_nocase(const std::u16string& name, const std::u16string& except) const {
    for (const sorted_list* list : {available(), selected()}) {
        if (!list) continue;
        for (int i = 0; i < list->count(); ++i) {
            std::u16string item = g_wstring(list->item(i)->text());
            if (!except.empty() && item == except) continue;
            if (tk_equal_nocase(item, name)) return true;
        }
    }
    return false;
}

void sel_tables_page::move_to_selected(int row) {
    sorted_list* from = available();
    sorted_list* to = selected();
    QString shown = from->item(row)->text();
    to->add(shown);
    delete from->takeItem(row);
    std::u16string name = g_wstring(shown);
    if (auto it = m_available_queries.find(name); it != m_available_queries.end()) {
        m_selected_queries.emplace(name, it->second);
        m_available_queries.erase(it);
    }
}

void sel_tables_page::move_to_available(int row) {
    sorted_list* from = selected();
    sorted_list* to = available();
    QString shown = from->item(row)->text();
    to->add(shown);
    delete from->takeItem(row);
    std::u16string name = g_wstring(shown);
    if (auto it = m_selected_queries.find(name); it != m_selected_queries.end()) {
        m_available_queries.emplace(name, it->second);
        m_selected_queries.erase(it);
    }
}

void sel_tables_page::on_add() {
    TK_TRACE(2, "sel_tables_page::on_add");
    sorted_list* from = available();
    sorted_list* to = selected();
    if (!from || !to) return;
    int row = from->selected_row();
    if (row < 0) return;
    move_to_selected(row);
    if (from->count() > 0) {
        from->select_row(std::min(row, from->count() - 1));
    } else {
        to->setFocus();
        to->select_row(0);
    }
}

void sel_tables_page::on_add_all() {
    TK_TRACE(2, "sel_tables_page::on_add_all");
    sorted_list* from = available();
    sorted_list* to = selected();
    if (!from || !to) return;
    while (from->count() > 0) move_to_selected(0);
    to->setFocus();
    to->select_row(0);
}

void sel_tables_page::on_delete() {
    TK_TRACE(2, "sel_tables_page::on_delete");
    sorted_list* from = selected();
    sorted_list* to = available();
    if (!from || !to) return;
    int row = from->selected_row();
    if (row < 0) return;
    move_to_available(row);
    if (from->count() > 0) {
        from->select_row(std::min(row, from->count() - 1));
    } else {
        to->setFocus();
        to->select_row(0);
    }
}

void sel_tables_page::on_del_all() {
    TK_TRACE(2, "sel_tables_page::on_del_all");
    sorted_list* from = selected();
    sorted_list* to = available();
    if (!from || !to) return;
    while (from->count() > 0) move_to_available(0);
    to->setFocus();
    to->select_row(0);
}

bool sel_tables_page::ask_query(std::u16string& name, std::u16string& text) {
    set_query_dlg dialog(name, text, widget() ? widget()->window() : g_active_window());
    if (dialog.exec() != QDialog::Accepted) return false;
    name = dialog.name();
    text = dialog.text();
    return true;
}

void sel_tables_page::on_add_query() {
    TK_TRACE(2, "sel_tables_page::on_add_query");
    sorted_list* to = selected();
    if (!to) return;
    std::u16string name, text;
    while (ask_query(name, text)) {
        if (!listed_nocase(name)) {
            int row = to->add(g_qstring(name));
            m_selected_queries[name] = text;
            to->select_row(row);
            return;
        }
        wizard_shell::message(u"Duplicate table name. Try again.");
    }
}

void sel_tables_page::on_edit_query() {
    TK_TRACE(2, "sel_tables_page::on_edit_query");
    sorted_list* list = selected();
    if (!list) return;
    int row = list->currentRow();
    if (row < 0) return;
    std::u16string old_name = g_wstring(list->item(row)->text());
    auto it = m_selected_queries.find(old_name);
    // Tables are not editable.
    if (it == m_selected_queries.end()) return;
    std::u16string name = old_name, text = it->second;
    while (ask_query(name, text)) {
        // A new name is checked like an added one: a query named like a table would take the
        // table's place in the run.
        if (!listed_nocase(name, old_name)) {
            m_selected_queries.erase(old_name);
            m_selected_queries[name] = text;
            delete list->takeItem(list->find_exact(g_qstring(old_name)));
            list->select_row(list->add(g_qstring(name)));
            return;
        }
        wizard_shell::message(u"Duplicate table name. Try again.");
    }
}

bool sel_tables_page::on_next() {
    TK_TRACE(2, "sel_tables_page::on_next");
    sorted_list* from = available();
    sorted_list* to = selected();
    if (!from || !to) return true;
    if (!m_list_error.empty()) {
        // Moving on would replace the stored selection with what could not be read.
        wizard_shell::error(m_list_error);
        return false;
    }
    if (from->count() > 0 && to->count() == 0 && !m_empty_question.empty() &&
        !wizard_shell::question(m_empty_question, wizard_shell::default_no))
        return false;
    store(false);
    return true;
}

bool sel_tables_page::on_back() {
    TK_TRACE(2, "sel_tables_page::on_back");
    // Tables that could not be listed must not replace the stored selection.
    if (available() && selected() && m_list_error.empty()) store(true);
    return true;
}

void sel_tables_page::store(bool tables_in_selection) {
    sorted_list* to = selected();
    std::vector<std::u16string> names;
    for (int i = 0; i < to->count(); ++i) {
        std::u16string name = g_wstring(to->item(i)->text());
        if (!is_query(name)) names.push_back(name);
    }
    drelk_converter& settings = converter();
    settings.selection() = m_selected_queries;
    // The page finds the selected tables of its next visit in the selection, as a profile
    // loads them.
    if (tables_in_selection)
        for (const std::u16string& name : names) settings.selection().emplace(name, std::u16string());
    settings.set_selected_names(std::move(names));
    settings.available_queries() = m_available_queries;
}
