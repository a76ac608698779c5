#pragma once

#include <QDialog>

#include <string>

class QRadioButton;

// Asks what to do with a destination folder that exists already. `exec` accepts with `mode`
// set to 0, 1 or 2 in the order of the radios (the run's mode), or rejects on Cancel.
class overwrite_dlg2 : public QDialog {
public:
    enum {
        dialog_id = 107,
        id_text = 1320,
        id_overwrite_all = 1329,
        id_overwrite_files = 1330,
        id_skip_existing = 1331,
        id_ok = 1,
        id_cancel = 2,
        id_help = 9
    };

    overwrite_dlg2(int help_topic, const std::u16string& text, QWidget* parent = nullptr);

    int mode() const { return m_mode; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void on_ok();
    void on_help();

    int m_help_topic;
    int m_mode = 0;
    QRadioButton* m_radios[3] = {};
};
