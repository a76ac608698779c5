#include "wizard/dlg_error_ex.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/tk_send_bug.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "wizard/dlg_error_layout.hpp"

#include <QPushButton>

dlg_error_ex::dlg_error_ex(const std::string& message, QWidget* parent)
    : QDialog(parent), m_message(message) {
    TK_TRACE(2, "dlg_error_ex::on_init");
    QHBoxLayout* row = dlg_error_layout(this, dialog_id, message);
    auto* send = new QPushButton("Send bug", this);
    g_set_id(send, id_send_bug);
    auto* ok = new QPushButton("OK", this);
    g_set_id(ok, id_ok);
    auto* copy = new QPushButton("Copy to clipboard", this);
    g_set_id(copy, id_copy);
    row->addWidget(send);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(copy);
    send->setDefault(true);
    send->setFocus();
    connect(send, &QPushButton::clicked, this, [this] { on_send_bug(); });
    connect(ok, &QPushButton::clicked, this, [this] { done(id_ok); });
    connect(copy, &QPushButton::clicked, this, [this] { on_copy(); });
    raise();
    activateWindow();
}

void dlg_error_ex::on_send_bug() {
    tk_send_bug(tk_to_ansi_lossy(wizard_shell::window_title()), m_message);
    done(id_send_bug);
}

void dlg_error_ex::on_copy() {
    tk_copy_to_clipboard2(g_wstring(g_qstring(m_message)));
    done(id_copy);
}
