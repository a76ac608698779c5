#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

// Widgets carry their dialog or control id as their object name, so that code and tests find
// them by the ids the wizard's layouts use.
QString g_id_name(int id);
void g_set_id(QObject* object, int id);
template <class T = QWidget> T* g_find(const QObject* parent, int id) {
    return parent ? parent->findChild<T*>(g_id_name(id)) : nullptr;
}

// Runs `fn` on the user-interface thread and waits for it to return. Workers (the connection
// attempt, the conversion) report through dialogs, which only that thread may create.
void g_run_on_gui(const std::function<void()>& fn);

// Runs a page's handler inside Qt's event handling, which must not be left by an exception.
// A failure ends the running wizard and is raised again from `wizard_shell::run`; without a
// wizard it goes to the error handler (or an error box). A run's end is simply absorbed.
void g_guarded(const std::function<void()>& fn);

// Narrow text (the locale's encoding) and wide text into Qt's; never fails.
QString g_qstring(const std::string& narrow);
QString g_qstring(const std::u16string& wide);
std::u16string g_wstring(const QString& text);

// The program's images by resource id, registered by the program at start.
void g_register_image(int id, std::function<QPixmap()> make);
QPixmap g_load_image(int id);

// The active window, the owner of dialogs raised while a page or a worker runs.
QWidget* g_active_window();
