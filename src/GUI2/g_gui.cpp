#include "GUI2/g_gui.hpp"

#include "GUI2/wizard_shell.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_utils.hpp"

#include <QApplication>
#include <QThread>

#include <map>
#include <mutex>

QString g_id_name(int id) {
    return QString::number(id);
}

void g_set_id(QObject* object, int id) {
    object->setObjectName(g_id_name(id));
}

void g_run_on_gui(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    // Exceptions cannot cross the queued call: carry them over by hand.
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        app,
        [&] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
}

void g_guarded(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const tk_final_exception&) {
    } catch (...) {
        // Like an exception leaving the wizard's own loop: the wizard ends and the program's
        // top-level handler reports it.
        wizard_shell* shell = wizard_shell::instance();
        if (shell && shell->frame()) {
            shell->end_with(std::current_exception());
            return;
        }
        try {
            throw;
        } catch (const tk_exception& e) {
            if (error_handler* handler = error_handler::instance())
                handler->handle(e, true);
            else
                wizard_shell::error(e.message());
        } catch (const std::exception& e) {
            wizard_shell::error(std::string(e.what()));
        } catch (...) {
        }
    }
}

QString g_qstring(const std::string& narrow) {
    try {
        return QString::fromStdU16String(tk_ansi_to_wstring(narrow));
    } catch (const tk_exception&) {
        return QString::fromStdU16String(tk_utf8_to_wstring_lossy(narrow));
    }
}

QString g_qstring(const std::u16string& wide) {
    return QString::fromStdU16String(wide);
}

std::u16string g_wstring(const QString& text) {
    return text.toStdU16String();
}

namespace {
std::mutex images_lock;
std::map<int, std::function<QPixmap()>>& images() {
    static std::map<int, std::function<QPixmap()>> registry;
    return registry;
}
} // namespace

void g_register_image(int id, std::function<QPixmap()> make) {
    std::lock_guard<std::mutex> guard(images_lock);
    images()[id] = std::move(make);
}

QPixmap g_load_image(int id) {
    std::function<QPixmap()> make;
    {
        std::lock_guard<std::mutex> guard(images_lock);
        auto it = images().find(id);
        if (it == images().end()) return {};
        make = it->second;
    }
    return make();
}

QWidget* g_active_window() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}
