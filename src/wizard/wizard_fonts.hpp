#pragma once

#include <QFont>

// The title font of the welcome and finish pages: 12-point bold Verdana (or its stand-in).
inline QFont wizard_title_font() {
    QFont font("Verdana", 12, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
