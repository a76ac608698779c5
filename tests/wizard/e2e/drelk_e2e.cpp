// Walks the whole wizard as a user would, on a real display (Xvfb in scripts/wizard-e2e.sh):
// connect, database and folder (an existing folder, overwritten), two tables and a query added
// with "Add Query", the run, the finish page, where the settings are saved as a profile for the
// console agent to repeat the run. The script compares both runs' files.
#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "ODBC/odbc_provider.hpp"
#include "TK/tk_utils.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/gui_finish_page.hpp"
#include "wizard/overwrite_dlg2.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/set_query_dlg.hpp"
#include "wizard/sorted_list.hpp"
#include "wizard/wizard_error_handler.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>
#include <QWizard>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

struct step {
    const char* what;
    std::function<bool()> ready;
    std::function<void()> act;
};

QWidget* modal_named(const char* name) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal->objectName() == name ? modal : nullptr;
}

bool on_page(int dialog_id) {
    wizard_shell* shell = wizard_shell::instance();
    return shell && shell->shown() && shell->current_page() &&
           shell->current_page()->dialog_id() == dialog_id &&
           QApplication::activeModalWidget() == shell->frame();
}

void click(QWidget* parent, int id) {
    if (auto* button = g_find<QAbstractButton>(parent, id)) button->click();
}

void next() {
    wizard_shell::get().frame()->next();
}

void add_table(sel_tables_page* page, const char* name) {
    auto* available = g_find<sorted_list>(page->widget(), sel_tables_page::id_available);
    available->select_row(available->find_exact(name));
    page->on_add();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: drelk_e2e <profile to save>\n");
        return 2;
    }
    std::setlocale(LC_CTYPE, "");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    std::string profile = argv[1];
    bool saved = false;
    wizard_error_handler handler;
    odbc_install_provider();

    std::vector<step> steps = {
        {"welcome", [] { return on_page(103); }, [] { next(); }},
        {"connect", [] { return on_page(118); }, [] { next(); }},
        {"database", [] { return on_page(105); }, [] { next(); }},
        {"existing folder", [] { return modal_named("107") != nullptr; },
         [] {
             QWidget* dialog = modal_named("107");
             if (!g_find<QRadioButton>(dialog, overwrite_dlg2::id_overwrite_all)->isChecked())
                 std::fprintf(stderr, "drelk_e2e: overwrite is not preselected\n");
             click(dialog, overwrite_dlg2::id_ok);
         }},
        {"tables", [] { return on_page(127); },
         [] {
             auto* page = dynamic_cast<sel_tables_page*>(wizard_shell::get().current_page());
             add_table(page, "Customers");
             add_table(page, "OrderLines");
             click(page->widget(), sel_tables_page::id_add_query);
         }},
        {"add query", [] { return modal_named("128") != nullptr; },
         [] {
             QWidget* dialog = modal_named("128");
             g_find<QLineEdit>(dialog, set_query_dlg::id_name)->setText("Big orders");
             g_find<QPlainTextEdit>(dialog, set_query_dlg::id_text)
                 ->setPlainText("SELECT OrderID, CustomerID, Total FROM dbo.Orders WHERE Total > 100");
             click(dialog, set_query_dlg::id_ok);
         }},
        {"run", [] { return on_page(127); }, [] { next(); }},
        {"finish", [] { return on_page(116); },
         [profile, &saved] {
             auto* page = dynamic_cast<gui_finish_page*>(wizard_shell::get().current_page());
             if (!wizard_shell::get().errors().empty())
                 std::fprintf(stderr, "drelk_e2e: the run reported errors: %s\n",
                              wizard_shell::get().errors().front().c_str());
             else if (!page->save_settings(tk_utf8_to_wstring(profile)))
                 std::fprintf(stderr, "drelk_e2e: the profile was not saved\n");
             else
                 saved = true;
             wizard_shell::get().frame()->button(QWizard::FinishButton)->click();
         }},
    };

    size_t next_step = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (next_step >= steps.size()) return;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "drelk_e2e: unexpected message at step '%s': %s\n", steps[next_step].what,
                         box->text().toUtf8().constData());
            std::_Exit(4);
        }
        if (!steps[next_step].ready()) return;
        std::printf("drelk_e2e: %s\n", steps[next_step].what);
        std::fflush(stdout);
        QTimer::singleShot(0, steps[next_step++].act);
    });
    poll.start(20);
    QTimer::singleShot(120000, [&] {
        std::fprintf(stderr, "drelk_e2e: step '%s' was never reached\n",
                     next_step < steps.size() ? steps[next_step].what : "end");
        std::_Exit(3);
    });
    int result = drelk_run("");
    bool ok = result == 1 && next_step == steps.size() && saved;
    return ok ? 0 : 1;
}
