#include "wizard/sel_file_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "MSS/mss_engine.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/dest_check.hpp"
#include "wizard/sorted_list.hpp"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWizardPage>

#include <vector>

namespace {

drelk_converter& converter() {
    drelk_converter* converter = drelk_converter::instance();
    TK_ASSERT(converter, "..\\common/mss_set");
    return *converter;
}

constexpr int delimiter_ids[] = {sel_file_page::id_tab, sel_file_page::id_semicolon, sel_file_page::id_comma};

} // namespace

sel_file_page::sel_file_page()
    : wizard_page(dialog, u"Step 2 of 4", u"Select databases", 1013, button_back | button_next) {}

void sel_file_page::create_controls(QWizardPage* page) {
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel("Enter source and destination names. Click 'Browse' to find the destination", page));
    layout->addWidget(new QLabel("file through directory tree.", page));

    auto* list = new sorted_list(page);
    g_set_id(list, id_databases);
    auto* list_label = new QLabel("MS &SQL database name:", page);
    list_label->setBuddy(list);
    layout->addWidget(list_label);
    layout->addWidget(list, 1);

    auto* folder = new QLineEdit(page);
    g_set_id(folder, id_folder);
    auto* folder_label = new QLabel("Path to CS&V folder:", page);
    folder_label->setBuddy(folder);
    layout->addWidget(folder_label);
    auto* folder_row = new QHBoxLayout;
    folder_row->addWidget(folder, 1);
    auto* browse = new QPushButton("Browse...", page);
    g_set_id(browse, id_browse);
    folder_row->addWidget(browse);
    layout->addLayout(folder_row);

    auto* options = new QHBoxLayout;
    auto* group = new QGroupBox(" Select CSV &delimiter: ", page);
    auto* radios = new QHBoxLayout(group);
    const char* names[] = {"Tab", "Semicolon", "Comma"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(names[i], group);
        g_set_id(radio, delimiter_ids[i]);
        radios->addWidget(radio);
    }
    options->addWidget(group);
    auto* checks = new QVBoxLayout;
    auto* fnames = new QCheckBox("&Include field names in CSV file", page);
    g_set_id(fnames, id_include_fnames);
    auto* definitions = new QCheckBox("&Convert table definitions only", page);
    g_set_id(definitions, id_definitions_only);
    checks->addWidget(fnames);
    checks->addWidget(definitions);
    options->addLayout(checks);
    layout->addLayout(options);

    QObject::connect(browse, &QPushButton::clicked, page,
                     [this] { g_guarded([this] { on_browse_dest(); }); });
}

void sel_file_page::fill_databases() {
    drelk_converter& settings = converter();
    auto* list = g_find<sorted_list>(widget(), id_databases);
    if (!list) return;
    list->clear_all();
    m_typed_name = false;
    std::vector<std::u16string> names;
    try {
        settings.engine().get_contents(names);
    } catch (const tk_exception& e) {
        if (e.level() >= 2) throw;
        // The page stays usable: the user may type the name (Azure SQL asks for that) or go back.
        TK_TRACE(3, "sel_file_page: no database list: %s", e.what());
        wizard_shell::error(e.message());
        m_typed_name = true;
    }
    if (m_typed_name) {
        int row = list->add(g_qstring(settings.source()));
        QListWidgetItem* item = list->item(row);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        list->select_row(row);
        list->openPersistentEditor(item);
        return;
    }
    for (const std::u16string& name : names) list->add(g_qstring(name));
    int row = -1;
    if (!settings.source().empty()) row = list->find_prefix(g_qstring(settings.source()));
    if (row < 0 && list->count() > 0) row = 0;
    list->select_row(row);
}

bool sel_file_page::page_init() {
    TK_TRACE(2, "sel_file_page::page_init");
    drelk_converter& settings = converter();
    QWizardPage* page = widget();
    if (auto* folder = g_find<QLineEdit>(page, id_folder)) folder->setText(g_qstring(settings.dest()));
    fill_databases();
    int code = settings.delimiter();
    if (code >= 0 && code < 3)
        if (auto* radio = g_find<QRadioButton>(page, delimiter_ids[code])) radio->setChecked(true);
    if (auto* box = g_find<QCheckBox>(page, id_definitions_only))
        box->setChecked(settings.only_definitions());
    if (auto* box = g_find<QCheckBox>(page, id_include_fnames)) box->setChecked(settings.include_fnames());
    return true;
}

void sel_file_page::store() {
    drelk_converter& settings = converter();
    QWizardPage* page = widget();
    if (!page) return;
    std::u16string source;
    if (auto* list = g_find<sorted_list>(page, id_databases)) {
        int row = list->selected_row();
        if (row < 0) {
            TK_TRACE(1, "Failed to exract select item from list");
        } else {
            QListWidgetItem* item = list->item(row);
            // A typed name still in its editor.
            auto* editor = qobject_cast<QLineEdit*>(list->indexWidget(list->model()->index(row, 0)));
            source = g_wstring(editor ? editor->text() : item->text());
        }
    }
    settings.set_source(source);
    if (auto* folder = g_find<QLineEdit>(page, id_folder)) settings.set_dest(g_wstring(folder->text()));
    if (auto* box = g_find<QCheckBox>(page, id_definitions_only))
        settings.set_only_definitions(box->isChecked());
    if (auto* box = g_find<QCheckBox>(page, id_include_fnames)) settings.set_include_fnames(box->isChecked());
    for (int code = 0; code < 3; ++code) {
        auto* radio = g_find<QRadioButton>(page, delimiter_ids[code]);
        if (radio && radio->isChecked()) {
            settings.set_delimiter(code);
            break;
        }
    }
}

bool sel_file_page::on_next() {
    TK_TRACE(2, "sel_file_page::on_next");
    store();
    drelk_converter& settings = converter();
    if (settings.source().empty()) {
        wizard_shell::message(u"You should enter MSSQL database name");
        return false;
    }
    if (settings.dest().empty()) {
        wizard_shell::message(u"You should enter path to CSV folder");
        return false;
    }
    return dest_check_on_next(wizard_shell::get(), settings, widget());
}

bool sel_file_page::on_back() {
    store();
    return true;
}

void sel_file_page::on_browse_dest() {
    TK_TRACE(2, "sel_file_page::on_browse_dest");
    dest_browse(widget(), g_find<QLineEdit>(widget(), id_folder), converter().dest());
}
