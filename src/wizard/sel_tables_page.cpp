#include "wizard/sel_tables_page.hpp"

sel_tables_page::sel_tables_page()
    : wizard_page(dialog, u"Step 3 of 4", u"Select tables", 1014, button_back | button_next) {}
