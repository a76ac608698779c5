#include "wizard/dlg_error_continue.hpp"

#include "GUI2/g_gui.hpp"
#include "TK/tk_log.hpp"
#include "wizard/dlg_error_layout.hpp"

#include <QCheckBox>
#include <QPushButton>

dlg_error_continue::dlg_error_continue(const std::string& message, QWidget* parent) : QDialog(parent) {
    TK_TRACE(2, "dlg_error_continue::on_init");
    QHBoxLayout* row = dlg_error_layout(this, dialog_id, message);
    auto* dont_show = new QCheckBox("&Do not show this dialog box again", this);
    g_set_id(dont_show, id_dont_show);
    auto* go_on = new QPushButton("Continue", this);
    g_set_id(go_on, id_continue);
    auto* abort = new QPushButton("Abort", this);
    g_set_id(abort, id_abort);
    row->addWidget(dont_show);
    row->addStretch(1);
    row->addWidget(go_on);
    row->addWidget(abort);
    go_on->setDefault(true);
    go_on->setFocus();
    connect(dont_show, &QCheckBox::clicked, this, [this] { m_dont_show = !m_dont_show; });
    connect(go_on, &QPushButton::clicked, this, [this] { done(id_continue); });
    connect(abort, &QPushButton::clicked, this, [this] { done(id_abort); });
    raise();
    activateWindow();
}
