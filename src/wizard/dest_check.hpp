#pragma once

// The destination side of the database and folder page. sel_file_page calls these: its Next,
// after its own two checks, calls dest_check_on_next; its Browse button calls dest_browse.

#include <string>

class QLineEdit;
class QWidget;
class drelk_converter;
class wizard_shell;

// Checks and prepares the destination folder of the converter's settings: an existing folder asks
// what to do with it (overwrite_dlg2, the chosen mode stored in the converter, mode 0 empties its
// CSV files), a path naming a file is refused, missing folders are created. Errors are shown with
// wizard_shell::error. True when Next may go on; false keeps the page as it is.
bool dest_check_on_next(wizard_shell& shell, drelk_converter& converter, QWidget* parent);

// The folder browser, opened on the stored folder (or the current one); a chosen folder replaces
// the text of the folder edit.
void dest_browse(QWidget* parent, QLineEdit* folder_edit, const std::u16string& stored_dest);
