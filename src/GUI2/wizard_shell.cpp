#include "GUI2/wizard_shell.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_fname.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QWizard>
#include <QWizardPage>

#include <filesystem>
#include <utility>

// Where the installed manual is, from the folder of the installed program.
#ifndef TABLOXA_DOC_DIR_FROM_BIN
#define TABLOXA_DOC_DIR_FROM_BIN "../share/doc/tabloxa"
#endif

namespace {

// The frame's page: hands Qt's questions to the page's logic.
class wizard_qt_page : public QWizardPage {
public:
    explicit wizard_qt_page(wizard_page* logic) : m_logic(logic), m_buttons(logic->buttons()) {}

    wizard_page* logic() const { return m_logic; }
    void detach() { m_logic = nullptr; }
    void set_buttons(int buttons) {
        m_buttons = buttons;
        emit completeChanged();
    }
    int buttons() const { return m_buttons; }

    bool isComplete() const override {
        return (m_buttons & (wizard_page::button_next | wizard_page::button_finish)) != 0;
    }
    bool validatePage() override {
        bool ok = false;
        g_guarded([&] { ok = m_logic && m_logic->on_next(); });
        return ok;
    }

private:
    wizard_page* m_logic;
    int m_buttons;
};

} // namespace

class wizard_frame : public QWizard {
public:
    explicit wizard_frame(QWidget* parent) : QWizard(parent) {
        setWizardStyle(QWizard::ModernStyle);
        setOptions(QWizard::HaveHelpButton | QWizard::NoBackButtonOnLastPage);
        setObjectName("wizard_frame");
        // Room for the steps' lists and the watermark, whatever the first page holds.
        setMinimumSize(620, 460);

        // Back asks the page first, as Next does.
        QAbstractButton* back_button = button(QWizard::BackButton);
        QObject::disconnect(back_button, SIGNAL(clicked()), this, SLOT(back()));
        connect(back_button, &QAbstractButton::clicked, this, [this] {
            bool ok = false;
            wizard_page* page = current_logic();
            g_guarded([&] { ok = !page || page->on_back(); });
            if (ok) back();
        });
        connect(this, &QWizard::helpRequested, this, [this] { help(); });
        auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
        f1->setContext(Qt::WindowShortcut);
        connect(f1, &QShortcut::activated, this, [this] { help(); });
        connect(this, &QWizard::currentIdChanged, this, [this](int id) { page_changed(id); });
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (wizard_page* page = current_logic()) g_guarded([&] { page->on_timer(); });
        });
    }

    wizard_page* current_logic() const {
        auto* page = dynamic_cast<wizard_qt_page*>(currentPage());
        return page ? page->logic() : nullptr;
    }
    wizard_qt_page* current_qt_page() const { return dynamic_cast<wizard_qt_page*>(currentPage()); }

    void reject() override {
        // Escape and the window's close button follow the Cancel button: on a page where it is
        // disabled they finish where Finish is offered, and do nothing elsewhere.
        if (!button(QWizard::CancelButton)->isEnabled()) {
            QAbstractButton* finish = button(QWizard::FinishButton);
            if (finish->isVisible() && finish->isEnabled()) finish->click();
            return;
        }
        bool ok = true;
        if (wizard_page* page = current_logic()) g_guarded([&] { ok = page->on_cancel(); });
        if (ok) QWizard::reject();
    }

    void apply_buttons(int buttons) {
        if (wizard_qt_page* page = current_qt_page()) page->set_buttons(buttons);
        // Qt enables Back by the history alone; the page decides here.
        button(QWizard::BackButton)->setEnabled((buttons & wizard_page::button_back) != 0);
    }

    QTimer m_timer;
    QPixmap m_watermark;

    // Qt leaves the room below the watermark blank when the window is taller than the image:
    // its label gets the colour of the image's bottom edge instead.
    void extend_watermark() {
        if (m_watermark.isNull()) return;
        QColor edge = m_watermark.toImage().pixelColor(0, m_watermark.height() - 1);
        for (QLabel* label : findChildren<QLabel*>()) {
            if (label->property("tabloxa_strip").toBool()) continue;
            QWidget* up = label->parentWidget();
            while (up && up != this && !qobject_cast<QWizardPage*>(up)) up = up->parentWidget();
            if (up != this || label->pixmap().size() != m_watermark.size()) continue;
            QPalette palette = label->palette();
            palette.setColor(QPalette::Base, edge);
            palette.setColor(QPalette::Window, edge);
            label->setPalette(palette);
            label->setAutoFillBackground(true);
            label->setProperty("tabloxa_strip", true);
        }
    }

private:
    void help() {
        // The Help button may be disabled (finish page); F1 follows it.
        if (!button(QWizard::HelpButton)->isEnabled()) return;
        if (wizard_page* page = current_logic()) g_guarded([&] { page->on_help(); });
    }

    void page_changed(int id) {
        if (id < 0) return;
        bool forward = id > m_last_id;
        m_last_id = id;
        wizard_page* page = current_logic();
        if (!page) return;
        bool ok = false;
        g_guarded([&] { ok = page->activate(); });
        extend_watermark();
        // Qt updates the buttons after this signal in some paths: apply them again afterwards.
        if (wizard_qt_page* qt_page = current_qt_page()) {
            int buttons = qt_page->buttons();
            QTimer::singleShot(0, this, [this, id, buttons] {
                if (currentId() == id) apply_buttons(buttons);
            });
        }
        if (!ok && !wizard_shell::get().failing()) {
            TK_TRACE(1, "wizard_frame: page %d refused its activation", page->dialog_id());
            QTimer::singleShot(0, this, [this, forward] { forward ? next() : back(); });
        }
    }

    int m_last_id = -1;
};

wizard_shell::wizard_shell(std::u16string title, int icon_id, int watermark_id, int header_id)
    : m_title(std::move(title)), m_icon_id(icon_id), m_watermark_id(watermark_id), m_header_id(header_id) {
    TK_TRACE(2, "wizard_shell::ctor");
    m_help_file = find_help_file(tk_get_module_name());
}

std::string wizard_shell::find_help_file(const std::string& program) {
    tk_file_name beside(program);
    beside.set_extension(".html");
    if (tk_is_file_exist(beside.full_name(), 0)) return beside.full_name();
    std::filesystem::path path(program);
    std::filesystem::path installed = (path.parent_path() / TABLOXA_DOC_DIR_FROM_BIN /
                                       path.stem().concat(".html")).lexically_normal();
    if (tk_is_file_exist(installed.string(), 0)) return installed.string();
    // Neither: the place beside the program, which the missing-file message then refers to.
    return beside.full_name();
}

wizard_shell::~wizard_shell() {
    TK_TRACE(2, "wizard_shell::dtor");
    if (m_timer_on) stop_timer();
    for (wizard_page* page : m_pages) page->set_widget(nullptr);
    m_pages.clear();
    delete m_frame;
    m_frame = nullptr;
}

void wizard_shell::add_page(wizard_page* page) {
    TK_ASSERT(page && !m_frame, "g_wiz_sh");
    m_pages.push_back(page);
}

void wizard_shell::remove_page(wizard_page* page) {
    std::erase(m_pages, page);
    if (auto* widget = dynamic_cast<wizard_qt_page*>(page->widget())) widget->detach();
}

int wizard_shell::run(QWidget* parent) {
    TK_TRACE(2, "wizard_shell::run");
    TK_ASSERT(!m_frame, "g_wiz_sh");
    m_frame = new wizard_frame(parent);
    QPixmap watermark = g_load_image(m_watermark_id);
    QPixmap header = g_load_image(m_header_id);
    m_frame->m_watermark = watermark;
    for (wizard_page* page : m_pages) {
        auto* widget = new wizard_qt_page(page);
        g_set_id(widget, page->dialog_id());
        if (page->exterior()) {
            widget->setPixmap(QWizard::WatermarkPixmap, watermark);
        } else {
            widget->setTitle(g_qstring(page->title()));
            widget->setSubTitle(g_qstring(page->subtitle()));
            widget->setPixmap(QWizard::LogoPixmap, header);
        }
        page->set_widget(widget);
        page->create_controls(widget);
        m_frame->addPage(widget);
    }
    int result = m_frame->exec();
    TK_TRACE(1, "wizard_shell::run returns %d", result);
    if (m_timer_on) stop_timer();
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
    return result;
}

bool wizard_shell::is_initialized() {
    TK_TRACE(2, "wizard_shell::is_initialized");
    wizard_shell* shell = instance();
    if (shell && shell->m_shown) {
        TK_TRACE(1, "Singleton has been initialized");
        return true;
    }
    TK_TRACE(1, "Before return false");
    return false;
}

std::u16string wizard_shell::window_title() {
    return is_initialized() ? instance()->m_title : std::u16string();
}

namespace {

int message_box(QMessageBox::Icon icon, const char16_t* kind, const std::u16string& text,
                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton default_button) {
    int result = 0;
    g_run_on_gui([&] {
        bool owned = wizard_shell::is_initialized();
        QString caption =
            owned ? g_qstring(wizard_shell::instance()->title() + u" " + kind) : g_qstring(kind);
        QWidget* owner = owned ? wizard_shell::instance()->frame() : nullptr;
        QMessageBox box(icon, caption, g_qstring(text), buttons, owner);
        box.setObjectName("message_box");
        if (default_button != QMessageBox::NoButton) box.setDefaultButton(default_button);
        result = box.exec();
    });
    return result;
}

} // namespace

void wizard_shell::error(const std::u16string& text) {
    TK_TRACE(2, "wizard_shell::error");
    TK_WTRACE(3, u"%s", text.c_str());
    message_box(QMessageBox::Critical, u"Error", text, QMessageBox::Ok, QMessageBox::NoButton);
}

void wizard_shell::error(const std::string& text) {
    error(g_wstring(g_qstring(text)));
}

void wizard_shell::message(const std::u16string& text) {
    TK_TRACE(2, "wizard_shell::message");
    TK_WTRACE(3, u"%s", text.c_str());
    message_box(QMessageBox::Information, u"Message", text, QMessageBox::Ok, QMessageBox::NoButton);
}

bool wizard_shell::question(const std::u16string& text, int style) {
    TK_TRACE(2, "wizard_shell::question");
    return message_box(QMessageBox::Question, u"Question", text, QMessageBox::Yes | QMessageBox::No,
                       (style & default_no) ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
}

void wizard_shell::display_help() {
    TK_TRACE(2, "wizard_shell::display_help");
    open_help({});
}

void wizard_shell::display_help(int topic) {
    TK_TRACE(2, "wizard_shell::display_help(%d)", topic);
    open_help("topic" + std::to_string(topic));
}

void wizard_shell::open_help(const std::string& fragment) {
    if (!tk_is_file_exist(m_help_file, 0)) {
        error(u"Help file does not exist. Reinstall the program.");
        return;
    }
    QUrl url = QUrl::fromLocalFile(g_qstring(m_help_file));
    if (!fragment.empty()) url.setFragment(QString::fromStdString(fragment));
    if (!QDesktopServices::openUrl(url)) TK_TRACE(3, "No browser opened %s", m_help_file.c_str());
}

void wizard_shell::enable_button(int control_id, bool enable) {
    TK_TRACE(2, "wizard_shell::enable_button(%08X)", control_id);
    g_run_on_gui([&] {
        if (!m_frame) return;
        if (control_id == id_cancel)
            m_frame->button(QWizard::CancelButton)->setEnabled(enable);
        else if (control_id == id_help)
            m_frame->button(QWizard::HelpButton)->setEnabled(enable);
    });
}

void wizard_shell::start_timer(int period_ms) {
    TK_TRACE(2, "wizard_shell::start_timer(%d)", period_ms);
    g_run_on_gui([&] {
        TK_ASSERT(m_frame && !m_timer_on, "g_wiz_sh");
        m_frame->m_timer.start(period_ms);
        m_timer_on = true;
    });
}

void wizard_shell::stop_timer() {
    TK_TRACE(2, "wizard_shell::stop_timer");
    g_run_on_gui([&] {
        if (m_frame) m_frame->m_timer.stop();
        m_timer_on = false;
    });
}

void wizard_shell::set_wizard_buttons(int buttons) {
    if (m_frame) m_frame->apply_buttons(buttons);
}

void wizard_shell::first_activation() {
    if (m_shown || !m_frame) return;
    TK_TRACE(2, "wizard_shell::first_activation");
    m_frame->setWindowTitle(g_qstring(m_title));
    QPixmap icon = g_load_image(m_icon_id);
    if (!icon.isNull()) m_frame->setWindowIcon(QIcon(icon));

    // Centre over the owner, or over the screen's work area, and stay inside the work area.
    m_frame->adjustSize();
    QWidget* owner = m_frame->parentWidget();
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect();
    QRect target(QPoint(0, 0), m_frame->size());
    target.moveCenter(owner ? owner->frameGeometry().center() : area.center());
    if (area.isValid()) {
        if (target.right() > area.right()) target.moveRight(area.right());
        if (target.bottom() > area.bottom()) target.moveBottom(area.bottom());
        if (target.left() < area.left()) target.moveLeft(area.left());
        if (target.top() < area.top()) target.moveTop(area.top());
    }
    m_frame->move(target.topLeft());
    m_shown = true;
}

void wizard_shell::end_with(std::exception_ptr failure) {
    TK_TRACE(2, "wizard_shell::end_with");
    if (!m_failure) m_failure = failure;
    // From the event loop: a failure while the frame is still being shown would otherwise close
    // it before its loop runs.
    if (m_frame)
        QTimer::singleShot(0, m_frame, [frame = m_frame] { static_cast<QDialog*>(frame)->done(-1); });
}

void wizard_shell::next_page() {
    g_run_on_gui([&] {
        if (m_frame) m_frame->next();
    });
}

bool wizard_shell::add_error(const std::string& text) {
    std::lock_guard<std::mutex> guard(m_errors_lock);
    if (m_errors.size() >= max_errors) return false;
    m_errors.push_back(text);
    return true;
}

std::vector<std::string> wizard_shell::errors() const {
    std::lock_guard<std::mutex> guard(m_errors_lock);
    return m_errors;
}

wizard_page* wizard_shell::current_page() const {
    return m_frame ? m_frame->current_logic() : nullptr;
}

QWizard* wizard_shell::frame() const {
    return m_frame;
}
