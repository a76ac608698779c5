#include "UDB/udb_converter.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

udb_converter::udb_converter() {
    TK_TRACE(2, "udb_converter::ctor");
}

udb_converter::~udb_converter() = default;

void udb_converter::set_mode(int mode) {
    TK_TRACE(1, "udb_converter::set_mode(%d)", mode);
    m_mode = mode;
}

bool udb_converter::load_profile(const std::u16string& path, std::string* why) {
    udb_profile profile;
    return profile.load(path, why) && load_all(profile);
}

bool udb_converter::store_profile(const std::u16string& path) {
    udb_profile profile;
    store_all(profile);
    return profile.store(path);
}

void udb_converter::store_profile(udb_profile& profile) const {
    TK_TRACE(2, "udb_converter::store_profile");
    for (const auto& [name, text] : m_available_queries) {
        TK_WTRACE(1, u"Available Query: (%s,%s)", name.c_str(), text.c_str());
        profile.set_value(udb_available_queries, name, udb_flatten_query(text));
    }
    for (const auto& [name, text] : m_selection) {
        TK_WTRACE(1, u"Selected Query: (%s,%s)", name.c_str(), text.c_str());
        profile.set_value(udb_selected_tables, name, udb_flatten_query(text));
    }
    profile.set_value(udb_generic_settings, u"src", m_source);
    profile.set_value(udb_generic_settings, u"dest", m_dest);
    profile.set_value(udb_generic_settings, u"logfile", tk_utf8_to_wstring_lossy(m_logfile));
    profile.set_value(udb_generic_settings, u"skip indexes", m_skip_indexes ? u"1" : u"0");
    profile.set_value(udb_generic_settings, u"only definitions", m_only_definitions ? u"1" : u"0");
    profile.set_value(udb_generic_settings, u"mode", std::u16string(1, static_cast<char16_t>(u'0' + m_mode)));
}

bool udb_converter::load_profile(const udb_profile& profile) {
    TK_TRACE(1, "udb_converter::load_profile");
    for (const auto& [name, text] : profile.get_section(udb_selected_tables)) {
        m_selection.emplace(name, text);
        if (text.empty()) {
            TK_WTRACE(1, u"Push back table '%s'", name.c_str());
            m_selected_names.push_back(name);
        }
    }
    for (const auto& [name, text] : profile.get_section(udb_available_queries))
        m_available_queries.emplace(name, text);
    std::u16string value = profile.get_value(udb_generic_settings, u"src");
    if (!value.empty()) m_source = value;
    value = profile.get_value(udb_generic_settings, u"dest");
    if (!value.empty()) m_dest = value;
    value = profile.get_value(udb_generic_settings, u"logfile");
    if (!value.empty()) {
        std::string narrow;
        if (!tk_to_ansi(value, narrow))
            throw tk_exception("Logfile path does not exist.\nPlease verify the correct path was given.", 1);
        set_logfile(narrow);
    }
    value = profile.get_value(udb_generic_settings, u"only definitions");
    if (!value.empty()) m_only_definitions = value != u"0";
    value = profile.get_value(udb_generic_settings, u"mode");
    if (value.size() == 1) m_mode = value[0] - u'0';
    value = profile.get_value(udb_generic_settings, u"skip indexes");
    if (!value.empty()) m_skip_indexes = value != u"0";
    return true;
}

std::u16string udb_converter::current_table() const {
    std::lock_guard<std::mutex> guard(m_progress_lock);
    return m_current_table;
}

void udb_converter::set_current_table(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(m_progress_lock);
    m_current_table = name;
}
