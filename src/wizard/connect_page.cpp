#include "wizard/connect_page.hpp"

connect_page::connect_page()
    : wizard_page(dialog, u"Step 1 of 4", u"Connect to MS SQL server", 1010, button_back | button_next) {}
