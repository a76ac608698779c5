#include "wizard/dlg_error_layout.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"

#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

QHBoxLayout* dlg_error_layout(QDialog* dialog, int dialog_id, const std::string& message) {
    g_set_id(dialog, dialog_id);
    std::u16string title = wizard_shell::window_title();
    dialog->setWindowTitle(title.empty() ? QString("Error") : g_qstring(title + u" Error"));
    dialog->setModal(true);

    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(dialog);
    int size = dialog->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
    icon->setPixmap(
        dialog->style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, dialog).pixmap(size));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* text = new QLabel(g_qstring(message), dialog);
    g_set_id(text, 1320);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setMinimumWidth(320);
    top->addWidget(text, 1);

    auto* buttons = new QHBoxLayout;
    auto* all = new QVBoxLayout(dialog);
    all->addLayout(top);
    all->addSpacing(8);
    all->addLayout(buttons);
    return buttons;
}
