#include "wizard/wait_dlg.hpp"

#include "GUI2/g_gui.hpp"
#include "TK/tk_log.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>
#include <numbers>

namespace {

// Eight dots on a ring; the bright one moves a step on with every frame.
QPixmap draw_frame(int index) {
    const int size = 32;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int dot = 0; dot < wait_dlg::frame_count; ++dot) {
        double angle = 2 * std::numbers::pi * dot / double(wait_dlg::frame_count) - std::numbers::pi / 2;
        QPointF centre(size / 2.0 + 11 * std::cos(angle), size / 2.0 + 11 * std::sin(angle));
        // The lit dot, then a short fading tail behind it.
        int behind = (index - dot + wait_dlg::frame_count) % wait_dlg::frame_count;
        int alpha = behind == 0 ? 255 : behind == 1 ? 150 : behind == 2 ? 90 : 40;
        painter.setBrush(QColor(0x1f, 0x5f, 0xa8, alpha));
        painter.drawEllipse(centre, behind == 0 ? 4.0 : 3.0, behind == 0 ? 4.0 : 3.0);
    }
    return pixmap;
}

} // namespace

void wait_dlg_register_images() {
    for (int i = 0; i < wait_dlg::frame_count; ++i)
        g_register_image(wait_dlg::first_frame_id + i, [i] { return draw_frame(i); });
}

wait_dlg::wait_dlg(int period_ms, QWidget* parent, const QString& text)
    : QDialog(parent), m_period(period_ms) {
    g_set_id(this, dialog);
    setModal(true);
    setWindowTitle(QStringLiteral("Please wait"));
    auto* row = new QHBoxLayout;
    m_image = new QLabel(this);
    g_set_id(m_image, id_image);
    m_image->setFixedSize(32, 32);
    row->addWidget(m_image);
    row->addSpacing(8);
    auto* label = new QLabel(text, this);
    g_set_id(label, id_text);
    row->addWidget(label, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    g_set_id(cancel, id_cancel);
    // Escape or a click gives up; a Return pressed once too often for Next must not.
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

void wait_dlg::reject() {
    TK_TRACE(2, "wait_dlg::on_cancel");
    m_timer.stop();
    done(cancelled);
}

void wait_dlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    TK_TRACE(2, "wait_dlg::on_init");
    m_frame = 0;
    QPixmap first = g_load_image(first_frame_id);
    if (first.isNull()) wait_dlg_register_images();
    m_image->setPixmap(g_load_image(first_frame_id));
    m_timer.start(m_period);
    // Centred over the parent, in front.
    QWidget* owner = parentWidget();
    QRect target(QPoint(0, 0), size());
    if (owner)
        target.moveCenter(owner->frameGeometry().center());
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        target.moveCenter(screen->availableGeometry().center());
    move(target.topLeft());
    raise();
    activateWindow();
    // The attempt may have ended before the dialog was on the screen.
    QTimer::singleShot(0, this, [this] { close_if_done(); });
}

void wait_dlg::tick() {
    if (done_now()) {
        close_if_done();
        return;
    }
    m_frame = (m_frame + 1) % frame_count;
    m_image->setPixmap(g_load_image(first_frame_id + m_frame));
}

void wait_dlg::close_if_done() {
    if (!done_now()) return;
    m_timer.stop();
    if (isVisible()) done(0);
}

void wait_dlg::finish() {
    m_done = true;
    QMetaObject::invokeMethod(
        this, [this] { close_if_done(); }, Qt::QueuedConnection);
}
