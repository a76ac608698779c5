#pragma once

#include "GUI2/wizard_page.hpp"

// Step 1: the server and the credentials.
class connect_page : public wizard_page {
public:
    enum { dialog = 118 };

    connect_page();
};
