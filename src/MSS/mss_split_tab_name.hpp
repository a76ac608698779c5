#pragma once

#include <string>

// Splits "[owner].[table]" or "[table]": true with the parts (owner cleared for the second form);
// any other name answers false and leaves both outputs as they were.
bool mss_split_tab_name(const std::u16string& name, std::u16string& table, std::u16string& owner);
