#pragma once

#include "GUI2/wizard_page.hpp"

// The last page: the run's errors or the success text, and "&Save Settings".
class gui_finish_page : public wizard_page {
public:
    enum { dialog = 116, id_title = 1313, id_message = 1314, id_errors = 1016, id_save_settings = 1116 };

    gui_finish_page(std::u16string success_text, std::u16string error_text, std::u16string profile_extension);

    void create_controls(QWizardPage* page) override;
    bool page_init() override;
    // Stores the run's settings as a profile, adding the extension when the name lacks it.
    bool save_settings(const std::u16string& path);
    void on_save_settings();

private:
    std::u16string m_success_text;
    std::u16string m_error_text;
    std::u16string m_extension;
};
