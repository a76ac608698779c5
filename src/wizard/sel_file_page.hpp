#pragma once

#include "GUI2/wizard_page.hpp"

// Step 2: the database, the destination folder and the CSV options.
class sel_file_page : public wizard_page {
public:
    enum { dialog = 105 };

    sel_file_page();
};
