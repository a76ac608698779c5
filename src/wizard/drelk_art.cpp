#include "wizard/drelk_art.hpp"

#include "GUI2/g_gui.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor deep(0x1f, 0x4e, 0x79);
const QColor sea(0x2e, 0x86, 0xc1);
const QColor paper(0xfb, 0xfc, 0xfd);
const QColor mint(0x3c, 0xb3, 0x71);

// A database: a cylinder of three stacked discs.
void draw_database(QPainter& p, QRectF box) {
    qreal cap = box.height() * 0.22;
    p.setPen(QPen(deep, qMax<qreal>(1.0, box.width() / 30)));
    QLinearGradient body(box.topLeft(), box.topRight());
    body.setColorAt(0, sea.lighter(130));
    body.setColorAt(1, sea.darker(120));
    p.setBrush(body);
    QPainterPath path;
    path.moveTo(box.left(), box.top() + cap / 2);
    path.lineTo(box.left(), box.bottom() - cap / 2);
    path.arcTo(QRectF(box.left(), box.bottom() - cap, box.width(), cap), 180, 180);
    path.lineTo(box.right(), box.top() + cap / 2);
    p.drawPath(path);
    for (int band = 1; band <= 2; ++band) {
        qreal y = box.top() + (box.height() - cap) * band / 3;
        p.drawArc(QRectF(box.left(), y, box.width(), cap), 180 * 16, 180 * 16);
    }
    p.setBrush(sea.lighter(150));
    p.drawEllipse(QRectF(box.left(), box.top(), box.width(), cap));
}

// A sheet of comma separated values: a page with a folded corner and rows of cells.
void draw_sheet(QPainter& p, QRectF box) {
    qreal fold = box.width() * 0.28;
    QPainterPath page;
    page.moveTo(box.topLeft());
    page.lineTo(box.right() - fold, box.top());
    page.lineTo(box.right(), box.top() + fold);
    page.lineTo(box.bottomRight());
    page.lineTo(box.bottomLeft());
    page.closeSubpath();
    p.setPen(QPen(deep, qMax<qreal>(1.0, box.width() / 30)));
    p.setBrush(paper);
    p.drawPath(page);
    p.setBrush(QColor(0xd6, 0xe4, 0xf0));
    p.drawPolygon(
        QPolygonF({QPointF(box.right() - fold, box.top()), QPointF(box.right() - fold, box.top() + fold),
                   QPointF(box.right(), box.top() + fold)}));
    p.setPen(Qt::NoPen);
    qreal margin = box.width() * 0.14;
    qreal row = (box.height() - fold - margin) / 5;
    for (int r = 0; r < 4; ++r) {
        qreal y = box.top() + fold + r * row;
        for (int c = 0; c < 3; ++c) {
            qreal cell = (box.width() - 2 * margin) / 3;
            p.setBrush(r == 0 ? mint : QColor(0x9f, 0xb6, 0xcc));
            p.drawRect(QRectF(box.left() + margin + c * cell, y, cell * 0.78, row * 0.5));
        }
    }
}

void draw_arrow(QPainter& p, QPointF from, QPointF to, qreal width) {
    p.setPen(QPen(mint, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    QLineF back(to, from);
    back.setLength(width * 2.2);
    QLineF wing1 = back, wing2 = back;
    wing1.setAngle(back.angle() + 35);
    wing2.setAngle(back.angle() - 35);
    p.drawLine(wing1);
    p.drawLine(wing2);
}

QPixmap icon() {
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw_database(p, QRectF(4, 6, 26, 36));
    draw_sheet(p, QRectF(32, 22, 28, 36));
    draw_arrow(p, QPointF(16, 50), QPointF(28, 50), 4);
    return pm;
}

QPixmap watermark() {
    // As tall as the frame's page area, so that the strip runs down to the buttons.
    QPixmap pm(164, 414);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, pm.height());
    sky.setColorAt(0, deep);
    sky.setColorAt(1, sea);
    p.fillRect(pm.rect(), sky);
    // Faint rows of a table drifting down the strip.
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    for (int y = 12; y < pm.height(); y += 14) p.drawLine(0, y, pm.width(), y);
    for (int x = 18; x < pm.width(); x += 36) p.drawLine(x, 0, x, pm.height());
    draw_database(p, QRectF(44, 70, 76, 98));
    draw_arrow(p, QPointF(82, 186), QPointF(82, 226), 7);
    draw_sheet(p, QRectF(46, 240, 72, 88));
    return pm;
}

QPixmap header() {
    QPixmap pm(49, 49);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw_database(p, QRectF(3, 4, 20, 28));
    draw_arrow(p, QPointF(13, 40), QPointF(22, 40), 3);
    draw_sheet(p, QRectF(25, 16, 21, 29));
    return pm;
}

} // namespace

void drelk_register_images() {
    g_register_image(drelk_icon_id, icon);
    g_register_image(drelk_watermark_id, watermark);
    g_register_image(drelk_header_id, header);
}
