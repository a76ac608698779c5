#pragma once

#include "UDB/udb_validator.hpp"

#include <string>

// File base names for the CSV destination: letters and digits of any script, '_' and '-'.
class csv_validator : public udb_validator {
public:
    explicit csv_validator(const std::u16string& folder);

    bool is_acceptable(const std::u16string& name) override;
    std::u16string get_safe_name(const std::u16string& name) override;

    const std::u16string& folder() const { return m_folder; }

private:
    std::u16string m_folder;
};
