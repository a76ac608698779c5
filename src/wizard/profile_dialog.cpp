#include "wizard/profile_dialog.hpp"

#include "GUI2/g_gui.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <QDir>
#include <QFileDialog>

#include <unistd.h>

QStringList profile_filters(const std::u16string& extension) {
    QString ext = g_qstring(extension);
    return {QString("Profile Files (.%1) (*.%1)").arg(ext), QString("All Files (*.*) (*)")};
}

std::u16string profile_start_folder() {
    std::string folder = tk_get_module_path();
    if (!folder.empty() && access(folder.c_str(), W_OK) == 0) return g_wstring(g_qstring(folder));
    return g_wstring(QDir::homePath());
}

std::u16string profile_with_extension(const std::u16string& path, const std::u16string& extension) {
    std::u16string dotted = u"." + extension;
    return path.find(dotted) == std::u16string::npos ? path + dotted : path;
}

std::u16string choose_profile(QWidget* owner, const std::u16string& extension, bool save) {
    std::u16string start = profile_start_folder();
    std::string narrow;
    if (!tk_to_ansi(start, narrow)) {
        TK_TRACE(3, "choose_profile: the start folder has no narrow form");
        return {};
    }
    QFileDialog dialog(owner, "Select Profile File", g_qstring(start));
    dialog.setObjectName(save ? "save_profile" : "load_profile");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(profile_filters(extension));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return g_wstring(dialog.selectedFiles().front());
}
