// Walks the real wizard page by page on a real display (Xvfb in scripts/wizard-shots.sh) and
// saves a picture of every page and of the two error dialogs. The script starts the SQL Server
// emulator with the demo database and stores its host in the wizard's settings.
#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "ODBC/odbc_provider.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/dlg_error_continue.hpp"
#include "wizard/dlg_error_ex.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/progress_page.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/wizard_error_handler.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QWizard>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget* widget, const QString& file) {
    bool ok = widget->grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "saved" : "FAILED", file.toUtf8().constData());
    return ok;
}

struct shot {
    int dialog_id;
    const char* name;
};
const shot pages[] = {{103, "1-welcome"}, {118, "2-connect"},  {105, "3-database"},
                      {127, "4-tables"},  {108, "5-progress"}, {116, "6-finish"}};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: drelk_shots <output folder>\n");
        return 2;
    }
    std::setlocale(LC_CTYPE, "");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    wizard_error_handler handler;
    odbc_install_provider();

    size_t next = 0;
    bool failed = false;
    bool busy = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        wizard_shell* shell = wizard_shell::instance();
        if (busy || !shell || !shell->shown() || !shell->frame()->isVisible() || next >= std::size(pages))
            return;
        wizard_page* page = shell->current_page();
        if (!page || page->dialog_id() != pages[next].dialog_id) return;
        busy = true;
        QTimer::singleShot(0, [&, shell, page] {
            if (auto* tables = dynamic_cast<sel_tables_page*>(page)) {
                // Two tables chosen, the query (restored from the settings) among them.
                tables->on_add();
                tables->on_add();
            }
            settle(300);
            if (page->dialog_id() == progress_page::dialog) {
                // The run under way: a table named in the status and the bar moved on.
                auto* status = g_find<QLabel>(page->widget(), progress_page::id_status);
                auto* bar = g_find<QProgressBar>(page->widget(), progress_page::id_bar);
                for (int waited = 0; waited < 10000 && (status->text().isEmpty() || bar->value() == 0);
                     waited += 20)
                    settle(20);
            }
            failed |= !save(shell->frame(), out + "/" + pages[next].name + ".png");
            ++next;
            if (next == 3) {
                // A query the user defined earlier, shown on the tables page.
                drelk_converter::get().selection()[u"Big orders"] =
                    u"SELECT * FROM dbo.Orders WHERE Total > 100";
            }
            if (next == 5) {
                // The progress page moves on by itself when the run ends.
            } else if (next == std::size(pages)) {
                {
                    dlg_error_continue dialog(
                        "Orders, record #7: The specified record violates the integrity "
                        "constraints. See 'Troubleshooting' article of the product "
                        "documentation for solution.",
                        shell->frame());
                    dialog.show();
                    settle(300);
                    failed |= !save(&dialog, out + "/7-error-continue.png");
                }
                {
                    dlg_error_ex dialog("Internal error: \ncode=746b5f636d646c692e6370705c3139",
                                        shell->frame());
                    dialog.show();
                    settle(300);
                    failed |= !save(&dialog, out + "/8-internal-error.png");
                }
                shell->frame()->button(QWizard::FinishButton)->click();
            } else {
                shell->frame()->next();
            }
            busy = false;
        });
    });
    poll.start(50);
    QTimer::singleShot(60000, [] {
        std::fprintf(stderr, "drelk_shots: the wizard did not reach its end\n");
        std::_Exit(3);
    });
    drelk_run("");
    return failed || next != std::size(pages) ? 1 : 0;
}
