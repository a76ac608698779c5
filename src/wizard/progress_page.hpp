#pragma once

#include "GUI2/wizard_page.hpp"

// Step 4: the conversion runs on a worker while the page shows its progress.
class progress_page : public wizard_page {
public:
    enum { dialog = 108 };

    progress_page();
};
