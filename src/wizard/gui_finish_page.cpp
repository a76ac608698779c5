#include "wizard/gui_finish_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_log.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/profile_dialog.hpp"
#include "wizard/wizard_fonts.hpp"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWizard>
#include <QWizardPage>

namespace {

// The first focus on the filled error list moves on to Finish, so that Enter ends the wizard.
class focus_to_finish : public QObject {
public:
    using QObject::QObject;
    bool armed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (armed && event->type() == QEvent::FocusIn) {
            armed = false;
            TK_TRACE(2, "gui_finish_page::on_eb_focus");
            auto* edit = static_cast<QPlainTextEdit*>(watched);
            QTextCursor cursor = edit->textCursor();
            cursor.clearSelection();
            edit->setTextCursor(cursor);
            edit->ensureCursorVisible();
            if (wizard_shell* shell = wizard_shell::instance(); shell && shell->frame())
                shell->frame()->button(QWizard::FinishButton)->setFocus();
        }
        return false;
    }
};

} // namespace

gui_finish_page::gui_finish_page(std::u16string success_text, std::u16string error_text,
                                 std::u16string profile_extension)
    : wizard_page(dialog, {}, {}, no_help, button_finish), m_success_text(std::move(success_text)),
      m_error_text(std::move(error_text)), m_extension(std::move(profile_extension)) {}

void gui_finish_page::create_controls(QWizardPage* page) {
    auto* layout = new QVBoxLayout(page);
    auto* title = new QLabel("Conversion is Completed", page);
    g_set_id(title, id_title);
    layout->addWidget(title);
    auto* message = new QLabel(page);
    g_set_id(message, id_message);
    layout->addWidget(message);
    auto* errors = new QPlainTextEdit(page);
    g_set_id(errors, id_errors);
    errors->hide();
    auto* filter = new focus_to_finish(errors);
    filter->setObjectName("focus_to_finish");
    errors->installEventFilter(filter);
    layout->addWidget(errors, 1);
    layout->addStretch(0);
    auto* save = new QPushButton("&Save Settings", page);
    g_set_id(save, id_save_settings);
    // Return is for Finish, even while this button has the focus.
    save->setAutoDefault(false);
    QObject::connect(save, &QPushButton::clicked, page,
                     [this] { g_guarded([this] { on_save_settings(); }); });
    auto* row = new QHBoxLayout;
    row->addWidget(save);
    row->addStretch(1);
    layout->addLayout(row);
}

bool gui_finish_page::page_init() {
    TK_TRACE(2, "gui_finish_page::page_init");
    wizard_shell& shell = wizard_shell::get();
    if (QWizardPage* page = widget()) g_find<QLabel>(page, id_title)->setFont(wizard_title_font());
    shell.enable_button(wizard_shell::id_cancel, false);
    shell.enable_button(wizard_shell::id_help, false);
    QLabel* message = g_find<QLabel>(widget(), id_message);
    auto* edit = g_find<QPlainTextEdit>(widget(), id_errors);
    std::vector<std::string> errors = shell.errors();
    if (!errors.empty()) {
        TK_TRACE(1, "Display errors");
        if (message) message->setText(g_qstring(m_error_text));
        if (edit) {
            QString all;
            for (std::string text : errors) {
                for (char& c : text)
                    if (c == '\n') c = ' ';
                // The edit's own line break; the text keeps an empty line between messages.
                all += g_qstring(text) + "\n\n";
            }
            edit->setPlainText(all);
            edit->setReadOnly(true);
            edit->show();
            if (auto* filter = edit->findChild<focus_to_finish*>("focus_to_finish")) filter->armed = true;
        }
    } else {
        TK_TRACE(1, "Display success-message");
        if (message) message->setText(g_qstring(m_success_text));
    }
    return true;
}

bool gui_finish_page::save_settings(const std::u16string& path) {
    std::u16string file = profile_with_extension(path, m_extension);
    TK_WTRACE(2, u"gui_finish_page::save_settings(%s)", file.c_str());
    return drelk_converter::get().store_profile(file);
}

void gui_finish_page::on_save_settings() {
    std::u16string path = choose_profile(widget(), m_extension, true);
    if (!path.empty() && !save_settings(path))
        wizard_shell::error(u"Failed to save the profile " + profile_with_extension(path, m_extension));
}
