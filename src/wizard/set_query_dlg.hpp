#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPlainTextEdit;

// "Add Query": the name a query is stored under and its SELECT text, with a test on the server.
class set_query_dlg : public QDialog {
public:
    enum {
        dialog = 128,
        id_ok = 1,
        id_cancel = 2,
        id_help = 9,
        id_name = 1019,
        id_text = 1020,
        id_test = 129,
        help_topic = 1025,
        max_name = 2048,
    };

    set_query_dlg(std::u16string name, std::u16string text, QWidget* parent);

    // The name and the text as typed, after OK.
    const std::u16string& name() const { return m_name; }
    const std::u16string& text() const { return m_text; }

    // After the blanks, tabs and line breaks in front, the text begins with SELECT in any
    // letter case. An empty text passes: OK refuses it with a message of its own.
    static bool is_select(const std::u16string& text);

    void accept() override;
    void reject() override;
    void on_test_query();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_name_edit;
    QPlainTextEdit* m_text_edit;
    std::u16string m_name;
    std::u16string m_text;
};
