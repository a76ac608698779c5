#pragma once

#include <string>

class QLineEdit;
class QWidget;
class drelk_converter;
class wizard_shell;

// The destination folder of the database-and-folder page.

// The folder checks of Next: an existing folder asks how to treat its files, a file name is
// refused, a missing folder is created. Errors are shown; false keeps the page.
bool dest_check_on_next(wizard_shell& shell, drelk_converter& converter, QWidget* parent);

// The folder browser, opened on the stored folder or else the current directory; the chosen
// folder goes into the edit.
void dest_browse(QWidget* parent, QLineEdit* folder_edit, const std::u16string& stored_dest);
