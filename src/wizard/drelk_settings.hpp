#pragma once

class drelk_converter;

// The wizard's remembered settings. Created right after the converter, it loads the stored
// values into it; destroyed right before the converter, it stores what the converter then
// holds, whatever the wizard's outcome.
class drelk_settings {
public:
    explicit drelk_settings(drelk_converter& converter);
    ~drelk_settings();
    drelk_settings(const drelk_settings&) = delete;
    drelk_settings& operator=(const drelk_settings&) = delete;

    // Load (false) or store (true) the values of the settings key.
    void serialize(bool store);

private:
    drelk_converter& m_converter;
};

inline constexpr const char drelk_settings_key[] = "Software\\Quorvane\\Tabloxa";
