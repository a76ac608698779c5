#pragma once

#include <QStringList>

#include <string>

class QWidget;

// The file dialogs of profiles ("&Load Settings...", "&Save Settings").
// Qt reads a filter's patterns from its last parentheses, so each shown text gets its pattern
// behind it, which the dialog then hides: "Profile Files (.kzt)" matches *.kzt.
QStringList profile_filters(const std::u16string& extension);
// The program's folder when it is writable (an installed program's is not), else the home folder.
std::u16string profile_start_folder();
// Adds ".ext" unless the name already contains it.
std::u16string profile_with_extension(const std::u16string& path, const std::u16string& extension);
// Runs the open (save = false) or save dialog; empty when cancelled.
std::u16string choose_profile(QWidget* owner, const std::u16string& extension, bool save);
