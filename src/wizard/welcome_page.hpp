#pragma once

#include "GUI2/wizard_page.hpp"

// Page 1: what the wizard does, and "&Load Settings..." for a saved profile.
class welcome_page : public wizard_page {
public:
    enum { dialog = 103, id_load_settings = 1115 };
    static constexpr const char maker_site[] = "https://www.example.com/";

    explicit welcome_page(std::u16string profile_extension);

    void create_controls(QWizardPage* page) override;
    // Loads a profile into the converter; false (after telling the user) when it cannot be read.
    bool load_settings(const std::u16string& path);
    void on_load_settings();

private:
    std::u16string m_extension;
};
