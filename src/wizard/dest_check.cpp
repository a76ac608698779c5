#include "wizard/dest_check.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/csv_engine.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/overwrite_dlg2.hpp"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QWidget>

namespace {
constexpr int existing_folder_help = 1016;
constexpr const char16_t existing_folder_text[] =
    u"The destination folder already exists. Select one of the\n"
    u"options below. Click 'Help' button for more information.";
} // namespace

bool dest_check_on_next(wizard_shell&, drelk_converter& converter, QWidget* parent) {
    const std::u16string dest = converter.dest();
    TK_WTRACE(2, u"dest_check_on_next(%s)", dest.c_str());
    try {
        if (tk_is_path_exist(dest)) {
            overwrite_dlg2 dialog(existing_folder_help, existing_folder_text, parent);
            if (dialog.exec() != QDialog::Accepted) return false;
            if (dialog.mode() == 0) {
                TK_TRACE(1, "Overwrite entire folder");
                csv_engine(dest).delete_all_tables();
            }
            converter.set_mode(dialog.mode());
            return true;
        }
        if (tk_is_file_exist(dest, 0)) {
            wizard_shell::error(u"You should enter path to CSV folder, not a file name");
            return false;
        }
        common_create_path(dest);
        return true;
    } catch (const tk_exception& e) {
        wizard_shell::error(e.message());
        return false;
    }
}

void dest_browse(QWidget* parent, QLineEdit* folder_edit, const std::u16string& stored_dest) {
    TK_TRACE(2, "sel_file_page::on_browse_dest");
    // The folder of the settings as last stored, not what has been typed since.
    QString start = stored_dest.empty() ? QDir::currentPath() : g_qstring(stored_dest);
    QFileDialog dialog(parent, "Select CSV files folder", start);
    dialog.setObjectName("dest_browse");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) {
        TK_TRACE(1, "Folder browser cancelled");
        return;
    }
    QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) {
        TK_TRACE(1, "The chosen item has no path");
        return;
    }
    std::u16string path = g_wstring(QDir::toNativeSeparators(chosen.front()));
    TK_WTRACE(1, u"Got path: %s", path.c_str());
    if (folder_edit) folder_edit->setText(g_qstring(path));
}
