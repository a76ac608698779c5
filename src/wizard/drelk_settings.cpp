#include "wizard/drelk_settings.hpp"

#include "TK/tk_log.hpp"
#include "TK/tk_reg_key.hpp"
#include "common/drelk_converter.hpp"

drelk_settings::drelk_settings(drelk_converter& converter) : m_converter(converter) {
    serialize(false);
}

drelk_settings::~drelk_settings() {
    try {
        serialize(true);
    } catch (const std::exception& e) {
        TK_TRACE(3, "drelk_settings::dtor: %s", e.what());
    }
}

void drelk_settings::serialize(bool store) {
    TK_TRACE(2, "serialize( %d )", store ? 1 : 0);
    tk_reg_hive hive = tk_reg_hive::current_user();
    tk_reg_key key(drelk_settings_key);
    if (!key.open(&hive, tk_reg_key::all_access)) return;

    drelk_converter& c = m_converter;
    if (!store) {
        c.set_blob_to_text(false);
        c.set_include_fnames(true);
        c.set_delimiter(1);
    }
    bool blob = c.blob_to_text();
    if (key.serialize(store, "blob2text", blob) && !store) c.set_blob_to_text(blob);
    std::u16string text = c.dest();
    if (key.serialize(store, "dest", text) && !store) c.set_dest(text);
    text = c.host();
    if (key.serialize(store, "host", text) && !store) c.set_host(text);
    bool fnames = c.include_fnames();
    if (key.serialize(store, "inc_fnames", fnames) && !store) c.set_include_fnames(fnames);
    int delimiter = c.delimiter();
    // A code outside the table of delimiters counts as missing.
    if (key.serialize(store, "n_comma", delimiter) && !store && delimiter >= 0 && delimiter <= 2)
        c.set_delimiter(delimiter);
    text = c.password();
    if (key.serialize(store, "pswd", text) && !store) c.set_password(text);
    text = c.source();
    if (key.serialize(store, "src", text) && !store) c.set_source(text);
    text = c.user();
    if (key.serialize(store, "user", text) && !store) c.set_user(text);
    if (!key.close()) TK_TRACE(3, "serialize: the settings could not be written");
}
