// Walks the real wizard page by page on a real display (Xvfb in scripts/wizard-shots.sh) and
// saves a picture of every page, of the two error dialogs and of the window that waits for a
// connection. With --large-font it runs at one and a half times the font size and saves only
// step 3. The script starts the SQL Server emulator with the demo database and stores its host
// in the wizard's settings.
#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "ODBC/odbc_provider.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/connect_page.hpp"
#include "wizard/dlg_error_continue.hpp"
#include "wizard/dlg_error_ex.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/progress_page.hpp"
#include "wizard/sel_file_page.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/wait_dlg.hpp"
#include "wizard/wizard_error_handler.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWizard>

#include <arpa/inet.h>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <span>
#include <sys/socket.h>
#include <unistd.h>

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

// A host that takes the connection and never answers, as a hung server does: the kernel
// completes the handshake for the backlog, nobody accepts. Closing it resets the waiting client.
class silent_host {
public:
    silent_host() {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            listen(m_fd, 8) == 0 && getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~silent_host() { hang_up(); }
    bool ready() const { return m_port != 0; }
    QString host() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    void hang_up() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    unsigned m_port = 0;
};

// The waiting window of a connect to a silent host, with its animation under way; its Cancel
// brings the connect page back, where the real host is put again.
bool save_waiting(wizard_shell* shell, wizard_page* connect, const QString& file) {
    silent_host silent;
    auto* host = g_find<QLineEdit>(connect->widget(), connect_page::id_host);
    if (!silent.ready() || !host) return false;
    QString real = host->text();
    host->setText(silent.host());
    bool saved = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = dynamic_cast<wait_dlg*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog->frame() < 3) return;
        watch.stop();
        saved = save(dialog, file);
        g_find<QPushButton>(dialog, wait_dlg::id_cancel)->click();
    });
    watch.start(20);
    // Returns when Cancel closed the waiting window.
    shell->frame()->next();
    watch.stop();
    // The abandoned attempt fails now, and nobody is told.
    silent.hang_up();
    host->setText(real);
    return saved && shell->current_page() == connect;
}

struct shot {
    int dialog_id;
    const char* name; // none: the page is passed by
};
const shot pages[] = {{103, "1-welcome"}, {118, "2-connect"},  {105, "3-database"},
                      {127, "4-tables"},  {108, "5-progress"}, {116, "6-finish"}};
const shot large_font_pages[] = {
    {103, nullptr}, {118, nullptr}, {105, nullptr}, {127, "10-tables-large-font"}};

} // namespace

int main(int argc, char** argv) {
    bool large_font = argc == 3 && std::strcmp(argv[2], "--large-font") == 0;
    if (argc != 2 && !large_font) {
        std::fprintf(stderr, "usage: drelk_shots <output folder> [--large-font]\n");
        return 2;
    }
    QString out = QString::fromLocal8Bit(argv[1]);
    std::setlocale(LC_CTYPE, "");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (large_font) {
        // As a user whose desktop font is set larger meets the wizard: from its start.
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * 1.5);
        QApplication::setFont(font);
    }
    std::span<const shot> shots =
        large_font ? std::span<const shot>(large_font_pages) : std::span<const shot>(pages);
    QDir().mkpath(out);
    wizard_error_handler handler;
    odbc_install_provider();

    size_t next = 0;
    bool failed = false;
    bool busy = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        wizard_shell* shell = wizard_shell::instance();
        if (busy || !shell || !shell->shown() || !shell->frame()->isVisible() || next >= shots.size()) return;
        wizard_page* page = shell->current_page();
        if (!page || page->dialog_id() != shots[next].dialog_id) return;
        busy = true;
        QTimer::singleShot(0, [&, shell, page] {
            int id = page->dialog_id();
            if (auto* tables = dynamic_cast<sel_tables_page*>(page)) {
                // Two tables chosen, the query (restored from the settings) among them.
                tables->on_add();
                tables->on_add();
            }
            settle(300);
            if (id == progress_page::dialog) {
                // The run under way: a table named in the status, the bar moved on and the
                // record line counting the rows of the big table.
                auto* status = g_find<QLabel>(page->widget(), progress_page::id_status);
                auto* bar = g_find<QProgressBar>(page->widget(), progress_page::id_bar);
                auto* records = g_find<QLabel>(page->widget(), progress_page::id_records);
                auto counting = [records] {
                    QString text = records->text();
                    return text.startsWith("Record ") && !text.startsWith("Record 0 ");
                };
                for (int waited = 0;
                     waited < 20000 && (status->text().isEmpty() || bar->value() == 0 || !counting());
                     waited += 20)
                    settle(20);
                if (!counting()) {
                    std::fprintf(stderr, "drelk_shots: the record line never counted rows\n");
                    failed = true;
                }
            }
            if (shots[next].name) failed |= !save(shell->frame(), out + "/" + shots[next].name + ".png");
            ++next;
            if (id == sel_file_page::dialog) {
                // A query the user defined earlier, shown on the tables page.
                drelk_converter::get().selection()[u"Big orders"] =
                    u"SELECT * FROM dbo.Orders WHERE Total > 100";
            }
            if (id == progress_page::dialog) {
                // The progress page moves on by itself when the run ends.
            } else if (next == shots.size() && large_font) {
                static_cast<QDialog*>(shell->frame())->done(QDialog::Rejected);
            } else if (next == shots.size()) {
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
                if (id == connect_page::dialog && !large_font)
                    failed |= !save_waiting(shell, page, out + "/9-connecting.png");
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
    return failed || next != shots.size() ? 1 : 0;
}
