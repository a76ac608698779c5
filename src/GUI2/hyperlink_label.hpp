#pragma once

#include <QLabel>
#include <QString>

// A static text turned into a link: hand cursor, underlined font, the palette's link colours
// (visited after the first click); a click opens the target with the desktop's handler.
class hyperlink_label : public QLabel {
public:
    hyperlink_label(const QString& text, const QString& target, QWidget* parent = nullptr);

    const QString& target() const { return m_target; }
    bool visited() const { return m_visited; }
    // Opens the target, as a click does.
    void open();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void apply_colour();

    QString m_target;
    bool m_visited = false;
};
