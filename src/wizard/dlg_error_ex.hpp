#pragma once

#include <QDialog>

#include <string>

// The error that ends the run or the program: the message with "Send bug", OK and "Copy to
// clipboard". `exec` answers the id of the button that closed it: 1112, 1 or 1108.
class dlg_error_ex : public QDialog {
public:
    enum { id_send_bug = 1112, id_ok = 1, id_copy = 1108, dialog_id = 114 };

    explicit dlg_error_ex(const std::string& message, QWidget* parent = nullptr);

    void on_send_bug();
    void on_copy();

protected:
    void reject() override { done(id_ok); }

private:
    std::string m_message;
};
