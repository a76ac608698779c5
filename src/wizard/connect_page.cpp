#include "wizard/connect_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "MSS/mss_engine.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/odb_initializer.hpp"
#include "MSS/odb_oledb.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_errco.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "common/drelk_converter.hpp"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWizardPage>

#include <mutex>

namespace {

// The longest host, login or password the page takes.
constexpr int max_field = 260;

drelk_converter& converter() {
    drelk_converter* converter = drelk_converter::instance();
    TK_ASSERT(converter, "..\\common/mss_set");
    return *converter;
}

std::u16string text_of(QWizardPage* page, int id) {
    QLineEdit* edit = g_find<QLineEdit>(page, id);
    return edit ? g_wstring(edit->text()) : std::u16string();
}

void set_text(QWizardPage* page, int id, const std::u16string& text) {
    if (QLineEdit* edit = g_find<QLineEdit>(page, id)) edit->setText(g_qstring(text));
}

// Attempts take this while they set the server engine up: one that was given up while it waited
// leaves the engine alone, and none overlaps another.
std::mutex engine_gate;

// What the user reads for a failed attempt.
void report_odb_failure(const odb_exception& e) {
    if ((e.code() & 0xFFFF) == 0x4005) {
        wizard_shell::error(
            u"MS SQL Server does not exist or access denied.\nCheck to verify the correct host was given.");
        return;
    }
    int rows = 0;
    const tk_error_row* table = tk_provider_messages(&rows);
    std::string known = tk_error_converter(rows, table).convert(e.code());
    wizard_shell::error(known.empty() ? e.message() : known);
}

} // namespace

connect_page::connect_page()
    : wizard_page(dialog, u"Step 1 of 4", u"Connect to MS SQL server", 1010, button_back | button_next) {}

connect_page::~connect_page() {
    // A worker still blocked holds its own attempt; nothing of the page's is left to it.
    if (!m_animation->ended()) m_animation->abandon();
}

void connect_page::create_controls(QWizardPage* page) {
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel("Provide necessary information to establish MS SQL server connection.", page));
    layout->addWidget(new QLabel("Leave 'MS SQL Server' field empty to connect to local server.", page));

    auto* host = new QLineEdit(page);
    g_set_id(host, id_host);
    host->setMaxLength(max_field);
    auto* host_form = new QFormLayout;
    auto* host_label = new QLabel("MS &SQL Server:", page);
    host_label->setBuddy(host);
    host_form->addRow(host_label, host);
    layout->addLayout(host_form);

    auto* group = new QGroupBox(" Connect using: ", page);
    auto* group_layout = new QVBoxLayout(group);
    auto* windows = new QRadioButton("&Windows authentication", group);
    g_set_id(windows, id_windows_auth);
    auto* sql = new QRadioButton("S&QL Server authentication", group);
    g_set_id(sql, id_sql_auth);
    group_layout->addWidget(windows);
    group_layout->addWidget(sql);
    auto* login_form = new QFormLayout;
    auto* login = new QLineEdit(group);
    g_set_id(login, id_login);
    login->setMaxLength(max_field);
    auto* password = new QLineEdit(group);
    g_set_id(password, id_password);
    password->setMaxLength(max_field);
    password->setEchoMode(QLineEdit::Password);
    auto* login_label = new QLabel("&Login name:", group);
    login_label->setBuddy(login);
    auto* password_label = new QLabel("&Password:", group);
    password_label->setBuddy(password);
    login_form->addRow(login_label, login);
    login_form->addRow(password_label, password);
    group_layout->addLayout(login_form);
    layout->addWidget(group);

    auto* dbo = new QCheckBox("&Connect as database owner", page);
    g_set_id(dbo, id_as_dbo);
    layout->addWidget(dbo);
    layout->addStretch(1);

    QWidget::setTabOrder(host, windows);
    QWidget::setTabOrder(windows, sql);
    QWidget::setTabOrder(sql, login);
    QWidget::setTabOrder(login, password);
    QWidget::setTabOrder(password, dbo);
    QObject::connect(windows, &QRadioButton::clicked, page, [this] { enable_login(false); });
    QObject::connect(sql, &QRadioButton::clicked, page, [this] { enable_login(true); });
    for (QRadioButton* radio : {windows, sql})
        QObject::connect(radio, &QRadioButton::toggled, page, [this] { update_tab_stops(); });
}

void connect_page::update_tab_stops() {
    // As in a group of choices anywhere: Tab stops at the chosen one, the arrows move between them.
    for (int id : {id_windows_auth, id_sql_auth})
        if (auto* radio = g_find<QRadioButton>(widget(), id))
            radio->setFocusPolicy(radio->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void connect_page::enable_login(bool on) {
    for (int id : {id_login, id_password})
        if (QWidget* edit = g_find(widget(), id)) edit->setEnabled(on);
}

bool connect_page::page_init() {
    TK_TRACE(2, "mssql_settings_page::page_init");
    drelk_converter& settings = converter();
    QWizardPage* page = widget();
    set_text(page, id_host, settings.host());
    set_text(page, id_login, settings.user());
    set_text(page, id_password, settings.password());
    bool windows = settings.windows_auth();
    if (auto* radio = g_find<QRadioButton>(page, windows ? id_windows_auth : id_sql_auth))
        radio->setChecked(true);
    enable_login(!windows);
    update_tab_stops();
    if (auto* dbo = g_find<QCheckBox>(page, id_as_dbo)) dbo->setChecked(settings.as_dbo());
    return true;
}

void connect_page::store() {
    drelk_converter& settings = converter();
    QWizardPage* page = widget();
    if (!page) return;
    auto* windows = g_find<QRadioButton>(page, id_windows_auth);
    settings.set_windows_auth(windows && windows->isChecked());
    settings.set_host(text_of(page, id_host));
    settings.set_user(text_of(page, id_login));
    settings.set_password(text_of(page, id_password));
    auto* dbo = g_find<QCheckBox>(page, id_as_dbo);
    TK_TRACE(2, "mss_engine::set_as_dbo(%d)", dbo && dbo->isChecked() ? 1 : 0);
    settings.set_as_dbo(dbo && dbo->isChecked());
}

bool connect_page::on_next() {
    TK_TRACE(2, "mssql_settings_page::on_next");
    store();
    drelk_converter& settings = converter();
    m_animation = std::make_shared<animation>(settings.windows_auth(), settings.host(), settings.user(),
                                              settings.password());
    QWidget* owner = g_active_window();
    bool ended = wizard_job_wait(m_animation, QStringLiteral("Connecting to MS SQL server. Please wait..."),
                                 owner);
    // Keyboard shortcuts (F1) go to the active window: give it back to the wizard.
    if (owner) owner->activateWindow();
    if (!ended) {
        TK_TRACE(3, "The connection attempt was cancelled");
        return false;
    }
    if (std::exception_ptr failure = m_animation->failure()) report_failure(failure);
    return m_animation->connected;
}

bool connect_page::on_back() {
    store();
    return true;
}

connect_page::animation::animation(bool windows_auth, std::u16string host, std::u16string user,
                                   std::u16string password)
    : m_windows_auth(windows_auth), m_host(std::move(host)), m_user(std::move(user)),
      m_password(std::move(password)) {}

void connect_page::animation::run() {
    TK_TRACE(2, "mssql_settings_page::animation::operator()");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct com_release {
        ~com_release() { CoUninitialize(); }
    } com;
    connected = false;
    const std::u16string no_login;
    {
        // Reach the server before touching the engine: the wait for a silent host is spent
        // here, where an attempt given up changes nothing.
        odb_initializer probe;
        ole_com_ptr<IDBInitialize> data_source;
        probe.test_connection(data_source, m_host, m_windows_auth ? no_login : m_user,
                              m_windows_auth ? no_login : m_password, no_login);
    }
    std::lock_guard<std::mutex> gate(engine_gate);
    if (abandoned()) return;
    TK_TRACE(1, "mssql_converter_impl::connect_mssql_server");
    mss_engine& engine = drelk_converter::get().engine();
    if (m_windows_auth)
        engine.connect(m_host, true);
    else
        engine.connect(m_host, m_user, m_password, true);
    connected = true;
}

void connect_page::report_failure(std::exception_ptr failure) {
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const odb_exception& e) {
            report_odb_failure(e);
        } catch (const tk_final_exception&) {
            // Abort in the error dialog: the attempt is over.
        } catch (const tk_exception& e) {
            if (error_handler* handler = error_handler::instance()) {
                if (e.level() >= 2) {
                    handler->handle(e, false);
                } else {
                    tk_exception item(e.message(), 0);
                    item.set_code(e.code());
                    handler->handle(item, false);
                }
            } else {
                wizard_shell::error(e.message());
            }
        } catch (const std::exception& e) {
            wizard_shell::error(std::string(e.what()));
        }
    } catch (const tk_final_exception&) {
        // Abort in the error dialog: the attempt is over, the page stays.
    }
}
