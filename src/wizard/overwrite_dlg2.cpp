#include "wizard/overwrite_dlg2.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_log.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

overwrite_dlg2::overwrite_dlg2(int help_topic, const std::u16string& text, QWidget* parent)
    : QDialog(parent), m_help_topic(help_topic) {
    TK_TRACE(2, "overwrite_dlg2::ctor");
    g_set_id(this, dialog_id);
    setModal(true);

    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* right = new QVBoxLayout;
    auto* label = new QLabel(g_qstring(text), this);
    g_set_id(label, id_text);
    // The text brings its own line break: wrapping it again would break it into four.
    label->setWordWrap(false);
    right->addWidget(label);
    right->addSpacing(6);
    auto* group = new QButtonGroup(this);
    const char* names[3] = {"&Overwrite the entire folder", "Overwrite existing &files only",
                            "&Skip existing files"};
    const int ids[3] = {id_overwrite_all, id_overwrite_files, id_skip_existing};
    for (int i = 0; i < 3; ++i) {
        m_radios[i] = new QRadioButton(names[i], this);
        g_set_id(m_radios[i], ids[i]);
        group->addButton(m_radios[i], i);
        right->addWidget(m_radios[i]);
    }
    top->addLayout(right, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton("OK", this);
    g_set_id(ok, id_ok);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    g_set_id(cancel, id_cancel);
    auto* help = new QPushButton("Help", this);
    g_set_id(help, id_help);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);

    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addSpacing(8);
    all->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, [this] { on_ok(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(help, &QPushButton::clicked, this, [this] { g_guarded([this] { on_help(); }); });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, help, &QPushButton::click);
}

void overwrite_dlg2::showEvent(QShowEvent* event) {
    TK_TRACE(2, "overwrite_dlg2::on_init");
    std::u16string title = wizard_shell::window_title();
    setWindowTitle(g_qstring(title + (title.empty() ? u"Warning" : u" Warning")));
    m_radios[0]->setChecked(true);
    QDialog::showEvent(event);
    if (QWidget* owner = parentWidget()) {
        QRect frame = geometry();
        frame.moveCenter(owner->window()->frameGeometry().center());
        move(frame.topLeft());
    }
    raise();
    activateWindow();
    QApplication::beep();
}

void overwrite_dlg2::on_ok() {
    for (int i = 0; i < 3; ++i)
        if (m_radios[i]->isChecked()) m_mode = i;
    accept();
}

void overwrite_dlg2::on_help() {
    if (wizard_shell* shell = wizard_shell::instance()) shell->display_help(m_help_topic);
}
