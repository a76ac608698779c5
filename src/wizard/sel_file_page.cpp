#include "wizard/sel_file_page.hpp"

sel_file_page::sel_file_page()
    : wizard_page(dialog, u"Step 2 of 4", u"Select databases", 1013, button_back | button_next) {}
