#include "wizard/progress_page.hpp"

progress_page::progress_page()
    : wizard_page(dialog, u"Step 4 of 4", u"Database converting is in progress", help_start_page, 0) {}
