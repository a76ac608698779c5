#pragma once

#include "TK/tk_singl.hpp"

#include <exception>
#include <mutex>
#include <string>
#include <vector>

class QWidget;
class QWizard;
class wizard_page;
class wizard_frame;

// The wizard frame: title, images, the ordered pages, message boxes, help and the timer.
class wizard_shell : public tk_single<wizard_shell> {
public:
    enum button_id { id_cancel = 2, id_help = 9 };
    // Extra style for `question`: the second button, No, is the default.
    static constexpr int default_no = 0x100;
    static constexpr size_t max_errors = 20;

    wizard_shell(std::u16string title, int icon_id, int watermark_id, int header_id);
    ~wizard_shell();

    // Pages stay owned by the caller and must outlive `run`; a page destroyed before the shell
    // takes itself out of it.
    void add_page(wizard_page* page);
    void remove_page(wizard_page* page);
    // Runs the wizard modally; the result is the program's exit code (1 Finish, 0 Cancel).
    int run(QWidget* parent);

    static bool is_initialized();
    static void error(const std::u16string& text);
    static void error(const std::string& text);
    static void message(const std::u16string& text);
    static bool question(const std::u16string& text, int style = 0);
    static std::u16string window_title();

    // The manual, named like the program with ".html": beside the program (a build folder), else
    // in the documentation folder of the prefix the program is installed in.
    static std::string find_help_file(const std::string& program);
    void display_help();
    void display_help(int topic);
    const std::string& help_file() const { return m_help_file; }
    void set_help_file(std::string path) { m_help_file = std::move(path); }

    void enable_button(int control_id, bool enable);
    void start_timer(int period_ms);
    void stop_timer();
    bool timer_on() const { return m_timer_on; }

    // Called by a page's activation.
    void set_wizard_buttons(int buttons);
    void first_activation();
    bool shown() const { return m_shown; }

    // Closes the wizard; `run` then raises the failure.
    void end_with(std::exception_ptr failure);
    bool failing() const { return m_failure != nullptr; }

    // Moves the wizard on to the next page, whatever the buttons say (the end of the progress).
    void next_page();

    // The run's error messages, at most `max_errors`; false when the list is full.
    bool add_error(const std::string& text);
    std::vector<std::string> errors() const;

    const std::u16string& title() const { return m_title; }
    const std::vector<wizard_page*>& pages() const { return m_pages; }
    wizard_page* current_page() const;
    QWizard* frame() const;

private:
    void open_help(const std::string& fragment);

    std::u16string m_title;
    int m_icon_id;
    int m_watermark_id;
    int m_header_id;
    std::vector<wizard_page*> m_pages;
    wizard_frame* m_frame = nullptr;
    std::string m_help_file;
    bool m_shown = false;
    bool m_timer_on = false;
    std::exception_ptr m_failure;
    mutable std::mutex m_errors_lock;
    std::vector<std::string> m_errors;
};
