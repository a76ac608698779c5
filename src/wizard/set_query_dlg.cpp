#include "wizard/set_query_dlg.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "MSS/mss_database.hpp"
#include "MSS/mss_engine.hpp"
#include "MSS/odb_oledb.hpp"
#include "TK/tk_errco.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/wizard_job.hpp"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QVBoxLayout>

#include <atomic>
#include <memory>

namespace {
// Skipped before the first keyword.
constexpr char16_t leading_blanks[] = u"\t\n\r ";

// The query run on the server by a worker, so that a slow server leaves the window alive.
class query_test : public wizard_job {
public:
    query_test(std::u16string source, std::u16string text) : m_source(std::move(source)), m_text(std::move(text)) {}

    void run() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        struct com_release {
            ~com_release() { CoUninitialize(); }
        } com;
        TK_TRACE(2, "mssql_converter_impl::test_query");
        try {
            std::unique_ptr<mss_database> db = drelk_converter::get().engine().open_db(m_source, 1);
            correct = db->test_query(m_text);
        } catch (const tk_exception& e) {
            // Any failure is a negative answer; an internal error stays one.
            if (e.level() >= 2) throw;
            TK_TRACE(1, "The query failed: %s", e.what());
        } catch (const std::exception& e) {
            TK_TRACE(1, "The query failed: %s", e.what());
        }
    }

    std::atomic<bool> correct{false};

protected:
    // The server stops working on it too; nothing else runs statements while this dialog is up.
    void on_abandon() override {
        odb_cancel_running();
        odb_allow_running();
    }

private:
    const std::u16string m_source;
    const std::u16string m_text;
};

} // namespace

set_query_dlg::set_query_dlg(std::u16string name, std::u16string text, QWidget* parent)
    : QDialog(parent), m_name(std::move(name)), m_text(std::move(text)) {
    g_set_id(this, dialog);
    setWindowTitle(QStringLiteral("Add Query"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_name_edit = new QLineEdit(this);
    g_set_id(m_name_edit, id_name);
    m_name_edit->setMaxLength(max_name);
    auto* name_label = new QLabel("&Store as Table:", this);
    name_label->setBuddy(m_name_edit);
    form->addRow(name_label, m_name_edit);
    layout->addLayout(form);
    auto* text_label = new QLabel("&Query:", this);
    m_text_edit = new QPlainTextEdit(this);
    g_set_id(m_text_edit, id_text);
    m_text_edit->setTabChangesFocus(true);
    text_label->setBuddy(m_text_edit);
    layout->addWidget(text_label);
    layout->addWidget(m_text_edit, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    g_set_id(ok, id_ok);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    g_set_id(cancel, id_cancel);
    auto* test = new QPushButton("&Test Query", this);
    g_set_id(test, id_test);
    buttons->addButton(test, QDialogButtonBox::ActionRole);
    QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
    g_set_id(help, id_help);
    layout->addWidget(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { g_guarded([this] { accept(); }); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(test, &QPushButton::clicked, this, [this] { g_guarded([this] { on_test_query(); }); });
    connect(help, &QPushButton::clicked, this,
            [] { g_guarded([] { wizard_shell::get().display_help(help_topic); }); });
    ok->setDefault(true);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, help, &QPushButton::click);
    resize(520, 360);
}

void set_query_dlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    TK_TRACE(2, "set_query_dlg::on_init");
    m_name_edit->setText(g_qstring(m_name));
    m_text_edit->setPlainText(g_qstring(m_text));
    QRect target(QPoint(0, 0), size());
    if (QWidget* owner = parentWidget())
        target.moveCenter(owner->frameGeometry().center());
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        target.moveCenter(screen->availableGeometry().center());
    move(target.topLeft());
    raise();
    activateWindow();
    m_name_edit->setFocus();
}

bool set_query_dlg::is_select(const std::u16string& text) {
    if (text.empty()) return true;
    size_t start = text.find_first_not_of(leading_blanks);
    if (start == std::u16string::npos || text.size() - start < 6) return false;
    return tk_equal_nocase(text.substr(start, 6), u"SELECT");
}

void set_query_dlg::accept() {
    TK_TRACE(2, "set_query_dlg::on_ok");
    std::u16string name = g_wstring(m_name_edit->text());
    std::u16string text = g_wstring(m_text_edit->toPlainText());
    if (name.empty()) {
        wizard_shell::message(u"Table name is empty!");
        return;
    }
    if (!is_select(text)) {
        wizard_shell::error(u"The query must start with SELECT.");
        return;
    }
    if (text.empty()) {
        wizard_shell::error(u"Query is empty!");
        return;
    }
    m_name = std::move(name);
    m_text = std::move(text);
    QDialog::accept();
}

void set_query_dlg::reject() {
    TK_TRACE(2, "set_query_dlg::on_cancel");
    QDialog::reject();
}

void set_query_dlg::on_test_query() {
    TK_TRACE(2, "set_query_dlg::on_test_query");
    std::u16string text = g_wstring(m_text_edit->toPlainText());
    if (!is_select(text)) {
        wizard_shell::error(u"The query must start with SELECT.");
        return;
    }
    drelk_converter* converter = drelk_converter::instance();
    TK_ASSERT(converter, "..\\common/mss_set");
    auto job = std::make_shared<query_test>(converter->source(), text);
    bool ended = wizard_job_wait(job, QStringLiteral("Testing the query. Please wait..."), this);
    activateWindow();
    if (!ended) {
        TK_TRACE(3, "The query test was cancelled");
        return;
    }
    if (job->failure()) std::rethrow_exception(job->failure());
    if (job->correct) {
        wizard_shell::message(u"The query is correct.");
        return;
    }
    wizard_shell::error(u"You have an error in your query syntax. Make sure that it is a correct SQL "
                        u"SELECT-statement. Contact " +
                        tk_utf8_to_wstring(tk_support_address) + u" if the error persists.");
}
