#pragma once

#include "GUI2/wizard_page.hpp"

// Step 3: the tables and the queries to convert.
class sel_tables_page : public wizard_page {
public:
    enum { dialog = 127 };

    sel_tables_page();
};
