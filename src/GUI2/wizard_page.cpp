#include "GUI2/wizard_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

#include <QCheckBox>
#include <QWizardPage>

wizard_page::wizard_page(int dialog_id, std::u16string title, std::u16string subtitle, int help_topic,
                         int buttons)
    : m_dialog_id(dialog_id), m_title(std::move(title)), m_subtitle(std::move(subtitle)),
      m_help_topic(help_topic), m_buttons(buttons) {
    TK_TRACE(2, "wizard_page::ctor(%d)", dialog_id);
}

wizard_page::~wizard_page() {
    if (wizard_shell* shell = wizard_shell::instance()) shell->remove_page(this);
}

void wizard_page::create_controls(QWizardPage*) {}

bool wizard_page::activate() {
    TK_TRACE(2, "wizard_page::activate(%d)", m_dialog_id);
    wizard_shell& shell = wizard_shell::get();
    shell.set_wizard_buttons(m_buttons);
    shell.first_activation();
    return page_init();
}

void wizard_page::on_help() {
    TK_TRACE(2, "wizard_page::on_help(%d)", m_help_topic);
    if (m_help_topic == no_help) return;
    wizard_shell& shell = wizard_shell::get();
    if (m_help_topic == help_start_page)
        shell.display_help();
    else
        shell.display_help(m_help_topic);
}

bool wizard_page::on_cancel() {
    TK_TRACE(2, "wizard_page::on_cancel");
    return wizard_shell::question(u"Are you sure you want to exit the wizard?", wizard_shell::default_no);
}

bool wizard_page::invert_chbox(int control_id) {
    TK_TRACE(2, "wizard_page::invert_chbox(%d)", control_id);
    QCheckBox* box = g_find<QCheckBox>(m_widget, control_id);
    TK_ASSERT(box, "..\\GUI2/g_wiz_pg");
    box->setChecked(!box->isChecked());
    return box->isChecked();
}
