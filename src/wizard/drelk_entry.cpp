#include "wizard/drelk_entry.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "ODBC/odbc_provider.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/connect_page.hpp"
#include "wizard/drelk_art.hpp"
#include "wizard/drelk_settings.hpp"
#include "wizard/gui_finish_page.hpp"
#include "wizard/progress_page.hpp"
#include "wizard/sel_file_page.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/welcome_page.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard/wizard_job.hpp"

#include <QApplication>
#include <QDialog>
#include <QIcon>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr const char16_t profile_extension[] = u"kzt";
constexpr const char16_t success_text[] = u"Wizard has converted your MSSQL database into\nCSV format "
                                          u"successfully.\n\nClick 'Finish' to exit the wizard.";
constexpr const char16_t error_text[] =
    u"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.";

// Qt needs a display unless a platform is chosen explicitly (offscreen, for instance);
// without one it would abort inside its own start-up.
bool have_display() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

} // namespace

std::u16string drelk_title() {
    return tk_utf8_to_wstring(
        tk_format("Tabloxa %d.%d %s", TABLOXA_VERSION_MAJOR, TABLOXA_VERSION_MINOR, ""));
}

bool drelk_qt_version_ok(const char* runtime_version) {
    int major = 0, minor = 0, patch = 0;
    if (!runtime_version || std::sscanf(runtime_version, "%d.%d.%d", &major, &minor, &patch) < 2)
        return false;
    return QT_VERSION_CHECK(major, minor, patch) >= QT_VERSION;
}

int drelk_run(const std::string& command_line) {
    int result = -1;
    std::unique_ptr<drelk_converter> converter;
    std::optional<drelk_settings> settings;
    std::unique_ptr<wizard_shell> shell;
    std::vector<std::unique_ptr<wizard_page>> pages;
    try {
        converter = std::make_unique<drelk_converter>();
        settings.emplace(*converter);
        if (!command_line.empty()) {
            TK_TRACE(1, "Profile on the command line: %s", command_line.c_str());
            converter->load_profile(tk_ansi_to_wstring(command_line));
        }
        drelk_register_images();
        // Every window of the program, dialogs included, shows the program's icon.
        QApplication::setWindowIcon(QIcon(g_load_image(drelk_icon_id)));
        shell =
            std::make_unique<wizard_shell>(drelk_title(), drelk_icon_id, drelk_watermark_id, drelk_header_id);
        pages.push_back(std::make_unique<welcome_page>(profile_extension));
        pages.push_back(std::make_unique<connect_page>());
        pages.push_back(std::make_unique<sel_file_page>());
        pages.push_back(std::make_unique<sel_tables_page>());
        pages.push_back(std::make_unique<progress_page>());
        pages.push_back(std::make_unique<gui_finish_page>(success_text, error_text, profile_extension));
        for (auto& page : pages) shell->add_page(page.get());
        // Finish and Cancel are both a good end here; only a failure is not.
        int closed_with = shell->run(g_active_window());
        result = closed_with == QDialog::Accepted || closed_with == QDialog::Rejected ? 0 : closed_with;
    } catch (const tk_final_exception&) {
    } catch (const tk_exception& e) {
        // Whatever its own level, a failure that ends the wizard is reported as one that ends
        // the run; an internal error stays one.
        if (error_handler* handler = error_handler::instance()) {
            if (e.level() >= 1) {
                handler->handle(e, true);
            } else {
                tk_exception ending(e.message(), 1);
                ending.set_code(e.code());
                handler->handle(ending, true);
            }
        }
    } catch (const std::exception& e) {
        wizard_shell::error(std::string(e.what()));
    }
    // Pages, shell, then the settings (stored now) and the converter.
    pages.clear();
    shell.reset();
    settings.reset();
    if (wizard_jobs_running() > 0) {
        // A worker still blocked in the driver may wake up and use the engine: leave it be, the
        // process ends without tearing it down.
        TK_TRACE(3, "The converter stays for a worker that still runs");
        static_cast<void>(converter.release());
        return result;
    }
    converter.reset();
    return result;
}

int drelk_main(int argc, char** argv) {
    // Answered before anything else, so that it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("drelk %d.%d\n", TABLOXA_VERSION_MAJOR, TABLOXA_VERSION_MINOR);
        return 0;
    }
    std::setlocale(LC_CTYPE, "");
    wizard_error_handler handler;
    // The providers reach the server through unixODBC.
    odbc_install_provider();

    if (!have_display()) {
        std::fputs("Failed to initialize GUI library\n", stderr);
        return -1;
    }
    QApplication app(argc, argv);
    // Qt takes the whole locale from the environment; numbers never follow it here.
    std::setlocale(LC_NUMERIC, "C");
    TK_TRACE(1, "Qt version=%s", qVersion());
    if (!drelk_qt_version_ok(qVersion())) {
        wizard_shell::error(tk_utf8_to_wstring(
            tk_format("Incorrect version of Qt libraries. Qt %d.%d or later is required to proceed with the "
                      "application.",
                      QT_VERSION_MAJOR, QT_VERSION_MINOR)));
        return -1;
    }

    int result = drelk_run(drelk_command_line(argc, argv));
    return drelk_end(result);
}

int drelk_end(int result) {
    if (wizard_jobs_close() > 0) {
        // Neither wait for a worker blocked in the driver nor run the libraries' clean-up under
        // it: the settings are stored already, nothing else is left to do.
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}

std::string drelk_command_line(int argc, char** argv) {
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    return command_line;
}
