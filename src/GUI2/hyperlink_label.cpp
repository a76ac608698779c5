#include "GUI2/hyperlink_label.hpp"

#include "TK/tk_log.hpp"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

hyperlink_label::hyperlink_label(const QString& text, const QString& target, QWidget* parent)
    : QLabel(text, parent), m_target(target) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setToolTip(target);
    apply_colour();
}

void hyperlink_label::apply_colour() {
    // A role, not a colour: the wizard's white page area would otherwise pick the text colour.
    setForegroundRole(m_visited ? QPalette::LinkVisited : QPalette::Link);
}

void hyperlink_label::open() {
    TK_TRACE(2, "hyperlink_label::open");
    if (!QDesktopServices::openUrl(QUrl(m_target))) TK_TRACE(3, "No handler opened the link");
    m_visited = true;
    apply_colour();
}

void hyperlink_label::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) open();
    QLabel::mouseReleaseEvent(event);
}

void hyperlink_label::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        open();
        return;
    }
    QLabel::keyPressEvent(event);
}
