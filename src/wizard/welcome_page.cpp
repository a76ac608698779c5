#include "wizard/welcome_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/hyperlink_label.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_log.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/profile_dialog.hpp"
#include "wizard/wizard_fonts.hpp"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizardPage>

welcome_page::welcome_page(std::u16string profile_extension)
    : wizard_page(dialog, {}, {}, 1012, button_next), m_extension(std::move(profile_extension)) {}

void welcome_page::create_controls(QWizardPage* page) {
    auto* layout = new QVBoxLayout(page);
    auto* title = new QLabel("Welcome to Tabloxa\nConversion Wizard\n", page);
    title->setFont(wizard_title_font());
    layout->addWidget(title);
    for (const char* line : {"This wizard helps you to convert Microsoft SQL or SQL Azure",
                             "database into comma separated values (.csv) format."})
        layout->addWidget(new QLabel(line, page));
    layout->addSpacing(16);
    layout->addWidget(new QLabel("Click 'Next' to continue.", page));
    layout->addSpacing(16);
    auto* load = new QPushButton("&Load Settings...", page);
    g_set_id(load, id_load_settings);
    // Return is for Next, even while this button has the focus.
    load->setAutoDefault(false);
    QObject::connect(load, &QPushButton::clicked, page,
                     [this] { g_guarded([this] { on_load_settings(); }); });
    auto* row = new QHBoxLayout;
    row->addWidget(load);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    layout->addWidget(new hyperlink_label("Quorvane", maker_site, page));
}

bool welcome_page::load_settings(const std::u16string& path) {
    TK_WTRACE(2, u"welcome_page::load_settings(%s)", path.c_str());
    bool loaded = false;
    try {
        loaded = drelk_converter::get().load_profile(path);
    } catch (const tk_exception& e) {
        if (e.level() >= 2) throw;
        wizard_shell::error(e.message());
        return false;
    }
    if (!loaded) wizard_shell::error(u"Failed to load the profile " + path);
    return loaded;
}

void welcome_page::on_load_settings() {
    TK_TRACE(2, "welcome_page::on_load_settings");
    std::u16string path = choose_profile(widget(), m_extension, false);
    if (!path.empty()) load_settings(path);
}
