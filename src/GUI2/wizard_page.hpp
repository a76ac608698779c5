#pragma once

#include <string>

class QWizardPage;
class QWidget;

// The base of every wizard page. The logic (what a page reads, checks and stores) lives in
// these operations and can be driven without a window; `create_controls` builds the widgets.
class wizard_page {
public:
    enum wizard_buttons { button_back = 1, button_next = 2, button_finish = 4 };
    // Help topics that are not numbers: the manual's start page, or no help at all.
    static constexpr int help_start_page = 0;
    static constexpr int no_help = -1;

    wizard_page(int dialog_id, std::u16string title, std::u16string subtitle, int help_topic, int buttons);
    virtual ~wizard_page();
    wizard_page(const wizard_page&) = delete;
    wizard_page& operator=(const wizard_page&) = delete;

    int dialog_id() const { return m_dialog_id; }
    const std::u16string& title() const { return m_title; }
    const std::u16string& subtitle() const { return m_subtitle; }
    int help_topic() const { return m_help_topic; }
    int buttons() const { return m_buttons; }
    // Welcome and finish pages have no header: they show the watermark instead.
    bool exterior() const { return m_title.empty() && m_subtitle.empty(); }

    // Activation: enables the page's wizard buttons, completes the shell's first activation,
    // then initialises the page; false refuses the activation.
    bool activate();

    virtual bool page_init() { return true; }
    // Builds the page's widgets inside the frame's page; nothing by default.
    virtual void create_controls(QWizardPage* page);
    // A tick of the shell's timer; nothing by default.
    virtual void on_timer() {}
    virtual void on_help();
    virtual bool on_next() { return true; }
    virtual bool on_back() { return true; }
    virtual bool on_cancel();

    // Flips a check box of the page and answers its new state.
    bool invert_chbox(int control_id);

    QWizardPage* widget() const { return m_widget; }
    void set_widget(QWizardPage* widget) { m_widget = widget; }

private:
    int m_dialog_id;
    std::u16string m_title;
    std::u16string m_subtitle;
    int m_help_topic;
    int m_buttons;
    QWizardPage* m_widget = nullptr;
};
