#pragma once

#include <QDialog>

#include <string>

// An error after which the run may go on: Continue (2, the default) or Abort (1), and
// "&Do not show this dialog box again".
class dlg_error_continue : public QDialog {
public:
    enum { id_continue = 2, id_abort = 1, id_dont_show = 1222, dialog_id = 115 };

    explicit dlg_error_continue(const std::string& message, QWidget* parent = nullptr);

    bool dont_show() const { return m_dont_show; }

protected:
    // Escape and the window's close button answer as Continue, the dialog's cancel button.
    void reject() override { done(id_continue); }

private:
    bool m_dont_show = false;
};
