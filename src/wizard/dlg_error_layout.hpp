#pragma once

#include <QDialog>
#include <QHBoxLayout>

#include <string>

// The layout both error dialogs share: caption, error icon, the message (1320), and a row for
// the dialog's buttons, which the caller fills.
QHBoxLayout* dlg_error_layout(QDialog* dialog, int dialog_id, const std::string& message);
