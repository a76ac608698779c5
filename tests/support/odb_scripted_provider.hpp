#pragma once

#include "MSS/odb_error_object.hpp"
#include "MSS/odb_oledb.hpp"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A provider whose server lives in memory, for the paths no real driver takes on demand: classes
// that exist or not, rowsets of any columns and rows, and a failure with chosen error records at
// any call. It installs itself as the process's provider while it exists.

struct odb_script_column {
    std::u16string name;
    DBTYPE type = DBTYPE_WSTR;
    DBLENGTH size = 0;
    DBCOLUMNFLAGS flags = DBCOLUMNFLAGS_ISNULLABLE;
    BYTE precision = 0;
    BYTE scale = 0;
};

// One value of a row: a text (read by any bound type but bytes), bytes (binary columns; bound as
// text they read as hexadecimal), or a status without value (NULL, cannot convert, ...).
struct odb_script_value {
    odb_script_value() : status(DBSTATUS_S_ISNULL) {}
    odb_script_value(const char16_t* value) : text(value) {}
    odb_script_value(std::u16string value) : text(std::move(value)) {}
    static odb_script_value null() { return odb_script_value(); }
    static odb_script_value binary(std::string value);
    static odb_script_value with_status(DBSTATUS status);

    DBSTATUS status = DBSTATUS_S_OK;
    bool is_bytes = false;
    std::u16string text;
    std::string bytes;
};

struct odb_script_rowset {
    std::vector<odb_script_column> columns;
    std::vector<std::vector<odb_script_value>> rows;
};

// The calls a failure can be injected into.
enum class odb_script_call {
    set_properties,          // IDBProperties::SetProperties of DBPROPSET_DBINIT
    set_provider_properties, // IDBProperties::SetProperties of any other set (fast load)
    initialize,              // IDBInitialize::Initialize
    get_data_source,         // IDataInitialize::GetDataSource
    create_session,
    create_command,
    set_command_text,
    execute,
    open_rowset,
    get_schema_rowset,
    get_column_info,
    create_accessor,
    get_next_rows,
    get_data,
    release_rows,
    restart_position,
    release_accessor,
};

struct odb_script_failure {
    enum error_object_kind { records, plain, none };

    HRESULT result = E_FAIL;
    std::vector<odb_error_record> error_records;
    error_object_kind kind = records;
    // Successful calls before the first failing one; with `once`, only that one call fails.
    int after = 0;
    bool once = false;
};

// One property as the provider received it.
struct odb_script_property {
    DBPROPID id = 0;
    DBPROPOPTIONS options = 0;
    bool null_column = true;
    VARTYPE vt = VT_EMPTY;
    std::u16string text; // VT_BSTR
    bool flag = false;   // VT_BOOL
};
struct odb_script_property_set {
    GUID set{};
    std::vector<odb_script_property> properties;
};

class odb_scripted_provider : public odb_class_factory {
public:
    odb_scripted_provider();
    ~odb_scripted_provider() override;
    odb_scripted_provider(const odb_scripted_provider&) = delete;
    odb_scripted_provider& operator=(const odb_scripted_provider&) = delete;

    // Classes that can be created: a provider's data source, or CLSID_MSDAINITIALIZE.
    void add_class(const CLSID& clsid);
    // What the server answers: a command text's result (an empty rowset for a statement without
    // one), a table's rowset by the name OpenRowset is given, a schema rowset (its rows filtered
    // by the restrictions).
    void add_command(const std::u16string& text, odb_script_rowset rowset);
    void add_table(const std::u16string& name, odb_script_rowset rowset);
    void add_schema(const GUID& schema, odb_script_rowset rowset);
    void fail(odb_script_call call, odb_script_failure failure);
    // Every object answers E_NOINTERFACE for this interface.
    void deny_interface(const IID& iid);

    // What happened, in order: "CoCreateInstance SQLNCLI11", "SetProperties", "Initialize",
    // "GetDataSource <string>", "CreateSession", "CreateCommand", "SetCommandText <text>",
    // "Execute", "OpenRowset <name>", "GetRowset <schema>", "GetColumnInfo", "CreateAccessor",
    // "GetNextRows", "GetData", "ReleaseRows", "RestartPosition", "ReleaseAccessor".
    std::vector<std::string> calls() const;
    void clear_calls();
    // Every SetProperties call's sets, in order.
    std::vector<odb_script_property_set> property_sets() const;
    // The restrictions of the last GetRowset call (empty text for VT_EMPTY).
    std::vector<std::u16string> last_restrictions() const;
    // Provider objects alive, row handles held, accessors not released.
    int live_objects() const;
    int held_rows() const;
    int live_accessors() const;

    struct state;

    HRESULT create_instance(REFCLSID clsid, REFIID riid, void** object) override;

private:
    std::shared_ptr<state> m_state;
    odb_class_factory* m_previous;
};
