#pragma once

// The data-access interfaces the source logic is written against: a thin subset of OLE DB with its
// result codes, constants and layouts. Two providers sit behind it: the ODBC binding and the
// scripted provider of the tests. Nothing above this header knows which one runs.
//
// Differences from the platform's definitions, where this system needs no more:
// - interface ids are GUIDs as usual, but only the interfaces below exist;
// - a binding's length part is four bytes (odb_bound_length), so that a column's slot is
//   status (4 bytes), length (4 bytes), value, as the reader lays out its row buffer;
// - schema rowset restrictions are VT_BSTR or VT_EMPTY variants;
// - error objects carry their texts as BSTRs, as OLE Automation's do.

#include "OLE/ole_auto.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BYTE = std::uint8_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

using DBORDINAL = std::uint64_t;
using DBLENGTH = std::uint64_t;
using DBCOUNTITEM = std::uint64_t;
using DBROWCOUNT = std::int64_t;
using DBROWOFFSET = std::int64_t;
using DBBYTEOFFSET = std::uint64_t;
using DBREFCOUNT = std::uint32_t;
using DBTYPE = std::uint16_t;
using DBSTATUS = std::uint32_t;
using DBCOLUMNFLAGS = std::uint32_t;
using DBPART = std::uint32_t;
using DBMEMOWNER = std::uint32_t;
using DBPARAMIO = std::uint32_t;
using DBACCESSORFLAGS = std::uint32_t;
using DBBINDSTATUS = std::uint32_t;
using DBROWOPTIONS = std::uint32_t;
using DBROWSTATUS = std::uint32_t;
using DBPROPID = std::uint32_t;
using DBPROPOPTIONS = std::uint32_t;
using DBPROPSTATUS = std::uint32_t;
using DBKIND = std::uint32_t;
using DISPID = std::int32_t;
using HROW = std::uintptr_t;
using HACCESSOR = std::uintptr_t;
using HCHAPTER = std::uintptr_t;

// The length part of a binding in the row buffer.
using odb_bound_length = std::uint32_t;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// ---- Results ---------------------------------------------------------------------------------

constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT DB_S_ENDOFROWSET = 0x00040EC6;
constexpr HRESULT DB_S_ERRORSOCCURRED = 0x00040EDA;
constexpr HRESULT DB_E_BADACCESSORHANDLE = static_cast<HRESULT>(0x80040E00u);
constexpr HRESULT DB_E_BADROWHANDLE = static_cast<HRESULT>(0x80040E04u);
constexpr HRESULT DB_E_CANTCONVERTVALUE = static_cast<HRESULT>(0x80040E07u);
constexpr HRESULT DB_SEC_E_PERMISSIONDENIED = static_cast<HRESULT>(0x80040E09u);
constexpr HRESULT DB_E_NOCOMMAND = static_cast<HRESULT>(0x80040E0Cu);
constexpr HRESULT DB_E_ERRORSINCOMMAND = static_cast<HRESULT>(0x80040E14u);
constexpr HRESULT DB_E_ERRORSOCCURRED = static_cast<HRESULT>(0x80040E21u);
constexpr HRESULT DB_E_INTEGRITYVIOLATION = static_cast<HRESULT>(0x80040E2Fu);
constexpr HRESULT DB_E_NOTABLE = static_cast<HRESULT>(0x80040E37u);
constexpr HRESULT DB_SEC_E_AUTH_FAILED = static_cast<HRESULT>(0x80040E4Du);
constexpr HRESULT DB_E_NOTSUPPORTED = static_cast<HRESULT>(0x80040E53u);
constexpr HRESULT DB_E_NOCOLUMN = static_cast<HRESULT>(0x80040E55u);
constexpr HRESULT DB_E_DATAOVERFLOW = static_cast<HRESULT>(0x80040E57u);
constexpr HRESULT DB_E_CANTFETCHBACKWARDS = static_cast<HRESULT>(0x80040E24u);

// ---- Constants -------------------------------------------------------------------------------

enum : DBTYPE {
    DBTYPE_EMPTY = 0,
    DBTYPE_NULL = 1,
    DBTYPE_I2 = 2,
    DBTYPE_I4 = 3,
    DBTYPE_R4 = 4,
    DBTYPE_R8 = 5,
    DBTYPE_CY = 6,
    DBTYPE_DATE = 7,
    DBTYPE_BSTR = 8,
    DBTYPE_IDISPATCH = 9,
    DBTYPE_ERROR = 10,
    DBTYPE_BOOL = 11,
    DBTYPE_VARIANT = 12,
    DBTYPE_IUNKNOWN = 13,
    DBTYPE_DECIMAL = 14,
    DBTYPE_I1 = 16,
    DBTYPE_UI1 = 17,
    DBTYPE_UI2 = 18,
    DBTYPE_UI4 = 19,
    DBTYPE_I8 = 20,
    DBTYPE_UI8 = 21,
    DBTYPE_GUID = 72,
    DBTYPE_BYTES = 128,
    DBTYPE_ARRAY = 0x2000, // with another type: the value part holds a SAFEARRAY* of it
    DBTYPE_BYREF = 0x4000, // with another type: the value part holds a pointer to the value
    DBTYPE_STR = 129,
    DBTYPE_WSTR = 130,
    DBTYPE_NUMERIC = 131,
    DBTYPE_UDT = 132,
    DBTYPE_DBDATE = 133,
    DBTYPE_DBTIME = 134,
    DBTYPE_DBTIMESTAMP = 135,
    DBTYPE_XML = 141,
    DBTYPE_DBTIME2 = 145,
    DBTYPE_DBTIMESTAMPOFFSET = 146,
};

enum : DBSTATUS {
    DBSTATUS_S_OK = 0,
    DBSTATUS_E_BADACCESSOR = 1,
    DBSTATUS_E_CANTCONVERTVALUE = 2,
    DBSTATUS_S_ISNULL = 3,
    DBSTATUS_S_TRUNCATED = 4,
    DBSTATUS_E_SIGNMISMATCH = 5,
    DBSTATUS_E_DATAOVERFLOW = 6,
    DBSTATUS_E_CANTCREATE = 7,
    DBSTATUS_E_UNAVAILABLE = 8,
};

enum : DBCOLUMNFLAGS {
    DBCOLUMNFLAGS_ISBOOKMARK = 0x1,
    DBCOLUMNFLAGS_MAYDEFER = 0x2,
    DBCOLUMNFLAGS_WRITE = 0x4,
    DBCOLUMNFLAGS_WRITEUNKNOWN = 0x8,
    DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10,
    DBCOLUMNFLAGS_ISNULLABLE = 0x20,
    DBCOLUMNFLAGS_MAYBENULL = 0x40,
    DBCOLUMNFLAGS_ISLONG = 0x80,
    DBCOLUMNFLAGS_ISROWID = 0x100,
    DBCOLUMNFLAGS_ISROWVER = 0x200,
};

enum : DBPART { DBPART_VALUE = 0x1, DBPART_LENGTH = 0x2, DBPART_STATUS = 0x4 };
enum : DBMEMOWNER { DBMEMOWNER_CLIENTOWNED = 0, DBMEMOWNER_PROVIDEROWNED = 1 };
enum : DBPARAMIO { DBPARAMIO_NOTPARAM = 0 };
enum : DBACCESSORFLAGS { DBACCESSOR_INVALID = 0, DBACCESSOR_PASSBYREF = 0x1, DBACCESSOR_ROWDATA = 0x2 };
enum : DBBINDSTATUS {
    DBBINDSTATUS_OK = 0,
    DBBINDSTATUS_BADORDINAL = 1,
    DBBINDSTATUS_UNSUPPORTEDCONVERSION = 2
};
enum : DBPROPOPTIONS { DBPROPOPTIONS_REQUIRED = 0, DBPROPOPTIONS_OPTIONAL = 1 };
enum : DBPROPSTATUS { DBPROPSTATUS_OK = 0, DBPROPSTATUS_NOTSUPPORTED = 1, DBPROPSTATUS_NOTSETTABLE = 3 };
enum : DBKIND { DBKIND_GUID_NAME = 0, DBKIND_GUID_PROPID = 1, DBKIND_NAME = 2 };
enum : DWORD { CLSCTX_INPROC_SERVER = 0x1 };
enum : DWORD { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };

// Properties of the DBPROPSET_DBINIT set.
enum : DBPROPID {
    DBPROP_AUTH_INTEGRATED = 0x07,
    DBPROP_AUTH_PASSWORD = 0x09,
    DBPROP_AUTH_USERID = 0x0C,
    DBPROP_INIT_DATASOURCE = 0x3B,
    DBPROP_INIT_TIMEOUT = 0x42,
    DBPROP_INIT_CATALOG = 0xE9,
};
// Property of the DBPROPSET_SQLSERVERDATASOURCE set.
enum : DBPROPID { SSPROP_ENABLEFASTLOAD = 2 };

// Column positions of the schema rowsets this system reads (0-based).
enum : int {
    odb_catalogs_name = 0,
    odb_tables_schema = 1,
    odb_tables_name = 2,
    odb_tables_type = 3,
    odb_pk_column_name = 3,
    odb_pk_name = 7,
    odb_fk_pk_table_name = 2,
    odb_fk_pk_column_name = 3,
    odb_fk_fk_table_name = 8,
    odb_fk_fk_column_name = 9,
    odb_fk_pk_name = 15,
    odb_fk_fk_name = 16,
    odb_ix_index_name = 5,
    odb_ix_primary_key = 6,
    odb_ix_unique = 7,
    odb_ix_column_name = 17,
};
// Restriction positions (0-based) of the schema rowsets.
enum : int {
    odb_tables_r_schema = 1,
    odb_tables_r_name = 2,
    odb_tables_r_type = 3,
    odb_tables_r_count = 4,
    odb_pk_r_schema = 1,
    odb_pk_r_table = 2,
    odb_pk_r_count = 3,
    odb_fk_r_pk_schema = 1,
    odb_fk_r_pk_table = 2,
    odb_fk_r_count = 6,
    odb_ix_r_schema = 1,
    odb_ix_r_table = 4,
    odb_ix_r_count = 5,
};

// ---- Ids ---------------------------------------------------------------------------------------

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
#define ODB_OLEDB_IID(name, d1)                                                                              \
    inline constexpr IID name = {d1, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}}
ODB_OLEDB_IID(IID_IColumnsInfo, 0x0C733A11);
ODB_OLEDB_IID(IID_IDBCreateCommand, 0x0C733A1D);
ODB_OLEDB_IID(IID_ICommandText, 0x0C733A27);
ODB_OLEDB_IID(IID_IDBCreateSession, 0x0C733A5D);
ODB_OLEDB_IID(IID_ICommand, 0x0C733A63);
ODB_OLEDB_IID(IID_IErrorRecords, 0x0C733A67);
ODB_OLEDB_IID(IID_IOpenRowset, 0x0C733A69);
ODB_OLEDB_IID(IID_ISQLErrorInfo, 0x0C733A74);
ODB_OLEDB_IID(IID_IDBSchemaRowset, 0x0C733A7B);
ODB_OLEDB_IID(IID_IRowset, 0x0C733A7C);
ODB_OLEDB_IID(IID_IDBProperties, 0x0C733A8A);
ODB_OLEDB_IID(IID_IDBInitialize, 0x0C733A8B);
ODB_OLEDB_IID(IID_IAccessor, 0x0C733A8C);
#undef ODB_OLEDB_IID
inline constexpr IID IID_IDataInitialize = {
    0x2206CCB1, 0x19C1, 0x11D1, {0x89, 0xE0, 0x00, 0xC0, 0x4F, 0xD7, 0xA8, 0x29}};

// Providers, in the order they are tried.
inline constexpr CLSID CLSID_SQLNCLI11 = {
    0x397C2819, 0x8272, 0x4532, {0xAD, 0x3A, 0xFB, 0x5E, 0x43, 0xBE, 0xAA, 0x39}};
inline constexpr CLSID CLSID_SQLNCLI10 = {
    0x8F4A6B68, 0x4F36, 0x4E3C, {0xBE, 0x81, 0xBC, 0x7C, 0xA4, 0xE9, 0xC4, 0x5C}};
inline constexpr CLSID CLSID_MSDAINITIALIZE = {
    0x2206CDB0, 0x19C1, 0x11D1, {0x89, 0xE0, 0x00, 0xC0, 0x4F, 0xD7, 0xA8, 0x29}};

#define ODB_OLEDB_GUID(name, d1)                                                                             \
    inline constexpr GUID name = {d1, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}}
ODB_OLEDB_GUID(DBGUID_DBSQL, 0xC8B521FB);
ODB_OLEDB_GUID(DBSCHEMA_CATALOGS, 0xC8B52211);
ODB_OLEDB_GUID(DBSCHEMA_INDEXES, 0xC8B5221E);
ODB_OLEDB_GUID(DBSCHEMA_TABLES, 0xC8B52229);
ODB_OLEDB_GUID(DBSCHEMA_PRIMARY_KEYS, 0xC8B5225C);
ODB_OLEDB_GUID(DBSCHEMA_FOREIGN_KEYS, 0xC8B522C4);
ODB_OLEDB_GUID(DBPROPSET_DBINIT, 0xC8B522BC);
#undef ODB_OLEDB_GUID
inline constexpr GUID DBPROPSET_SQLSERVERDATASOURCE = {
    0x28EFAEE4, 0x2D2C, 0x11D1, {0x98, 0x07, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};

// ---- Structures --------------------------------------------------------------------------------

struct DBID {
    GUID uGuid;
    DBKIND eKind;
    LPOLESTR pwszName; // DBKIND_NAME: a table's name, as the logic spells it
};
inline constexpr DBID DB_NULLID = {{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, DBKIND_GUID_PROPID, nullptr};

struct DBPROP {
    DBPROPID dwPropertyID;
    DBPROPOPTIONS dwOptions;
    DBPROPSTATUS dwStatus;
    DBID colid;
    VARIANT vValue;
};

struct DBPROPSET {
    DBPROP* rgProperties;
    ULONG cProperties;
    GUID guidPropertySet;
};

struct DBCOLUMNINFO {
    LPOLESTR pwszName;
    void* pTypeInfo; // always null
    DBORDINAL iOrdinal;
    DBCOLUMNFLAGS dwFlags;
    DBLENGTH ulColumnSize; // characters for text, bytes for binary; ~0 for unbounded columns
    DBTYPE wType;
    BYTE bPrecision;
    BYTE bScale;
    DBID columnid;
};

struct DBOBJECT;
struct DBBINDEXT;
class ITypeInfo;

// The value of a DBTYPE_DBTIMESTAMP binding; the fraction is in nanoseconds.
struct DBTIMESTAMP {
    std::int16_t year;
    std::uint16_t month;
    std::uint16_t day;
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
    std::uint32_t fraction;
};

// A provider's text of a date-time: "yyyy-mm-dd hh:mm:ss", then a point and `digits` digits of the
// fraction when there are any; "yyyy-mm-dd" for a date. The year always has four digits.
void odb_timestamp_text(const DBTIMESTAMP& value, int digits, bool date_only, std::u16string& out);

// The value of a DBTYPE_DBTIME2 binding; the fraction is in nanoseconds.
struct DBTIME2 {
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
    std::uint32_t fraction;
};

// The value of a DBTYPE_NUMERIC binding: the magnitude little-endian in `val`, `sign` 1 for
// positive and 0 for negative.
struct DB_NUMERIC {
    BYTE precision;
    BYTE scale;
    BYTE sign;
    BYTE val[16];
};

// A provider's text of a decimal: every digit of its scale, "0." before a fraction alone, "-"
// for a negative one (zero too).
void odb_numeric_text(const DB_NUMERIC& value, std::u16string& out);
// A provider's text of money: its four decimals always.
void odb_money_text(std::int64_t value, std::u16string& out);

struct DBBINDING {
    DBORDINAL iOrdinal;
    DBBYTEOFFSET obValue;
    DBBYTEOFFSET obLength;
    DBBYTEOFFSET obStatus;
    ITypeInfo* pTypeInfo;
    DBOBJECT* pObject;
    DBBINDEXT* pBindExt;
    DBPART dwPart;
    DBMEMOWNER dwMemOwner;
    DBPARAMIO eParamIO;
    DBLENGTH cbMaxLen;
    DWORD dwFlags;
    DBTYPE wType;
    BYTE bPrecision;
    BYTE bScale;
};

struct DBPARAMS;

struct ERRORINFO {
    HRESULT hrError;
    DWORD dwMinor;
    CLSID clsid;
    IID iid;
    DISPID dispid;
};

// ---- Interfaces --------------------------------------------------------------------------------
// Reference counted; an object answers QueryInterface for every interface it implements and
// E_NOINTERFACE for the others.

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

class IDBInitialize : public IUnknown {
public:
    virtual HRESULT Initialize() = 0;
    virtual HRESULT Uninitialize() = 0;
};

class IDBProperties : public IUnknown {
public:
    virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) = 0;
};

class IDBCreateSession : public IUnknown {
public:
    virtual HRESULT CreateSession(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppDBSession) = 0;
};

class IOpenRowset : public IUnknown {
public:
    virtual HRESULT OpenRowset(IUnknown* pUnkOuter, DBID* pTableID, DBID* pIndexID, REFIID riid,
                               ULONG cPropertySets, DBPROPSET rgPropertySets[], IUnknown** ppRowset) = 0;
};

class IDBCreateCommand : public IUnknown {
public:
    virtual HRESULT CreateCommand(IUnknown* pUnkOuter, REFIID riid, IUnknown** ppCommand) = 0;
};

class ICommand : public IUnknown {
public:
    // riid IID_NULL: run the text and return no rowset.
    virtual HRESULT Execute(IUnknown* pUnkOuter, REFIID riid, DBPARAMS* pParams, DBROWCOUNT* pcRowsAffected,
                            IUnknown** ppRowset) = 0;
};

class ICommandText : public ICommand {
public:
    virtual HRESULT SetCommandText(REFGUID rguidDialect, LPCOLESTR pwszCommand) = 0;
};

class IRowset : public IUnknown {
public:
    virtual HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
    // *prghRows points at the caller's array of at least cRows handles. The end of the rowset
    // answers DB_S_ENDOFROWSET with fewer (or no) rows.
    virtual HRESULT GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                DBCOUNTITEM* pcRowsObtained, HROW** prghRows) = 0;
    virtual HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS rgRowOptions[],
                                DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT RestartPosition(HCHAPTER hReserved) = 0;
};

class IColumnsInfo : public IUnknown {
public:
    // The array and the names buffer are allocated with CoTaskMemAlloc; the caller frees both.
    virtual HRESULT GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                  OLECHAR** ppStringsBuffer) = 0;
};

class IAccessor : public IUnknown {
public:
    // GetData fills, for each binding, the status (DBSTATUS, four bytes) at obStatus, the length
    // (odb_bound_length, four bytes) at obLength and the value at obValue. A value longer than
    // cbMaxLen (text: including its terminating NUL) is cut, its status is DBSTATUS_S_TRUNCATED and
    // its length part holds the whole value's length in bytes, so that the consumer can bind a
    // larger slot and read the row again. A binding of DBTYPE_BYREF with the column's own type
    // (DBTYPE_WSTR for text, DBTYPE_BYTES for bytes) and DBMEMOWNER_PROVIDEROWNED gets instead a
    // pointer to the provider's copy of the value (text ends in a NUL), valid until the row's
    // release: a long value is never copied into the consumer's buffer. A binding of DBTYPE_BSTR
    // (text) or DBTYPE_ARRAY | DBTYPE_UI1 (bytes) gets a BSTR or a SAFEARRAY* that the consumer
    // owns and frees, null for a value that has none; a value the provider held in such storage is
    // handed over and a second read of it has DBSTATUS_E_UNAVAILABLE. Providers may refuse them.
    virtual HRESULT CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                   const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                   DBBINDSTATUS rgStatus[]) = 0;
    virtual HRESULT ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) = 0;
};

class IDBSchemaRowset : public IUnknown {
public:
    // Each restriction is VT_EMPTY (none) or a VT_BSTR matched exactly.
    virtual HRESULT GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema, ULONG cRestrictions,
                              const VARIANT rgRestrictions[], REFIID riid, ULONG cPropertySets,
                              DBPROPSET rgPropertySets[], IUnknown** ppRowset) = 0;
};

class IDataInitialize : public IUnknown {
public:
    virtual HRESULT GetDataSource(IUnknown* pUnkOuter, DWORD dwClsCtx, LPCOLESTR pwszInitializationString,
                                  REFIID riid, IUnknown** ppDataSource) = 0;
};

class IErrorInfo : public IUnknown {
public:
    // Each gives a new BSTR (the caller frees it), or a null one when there is none.
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
};

class IErrorRecords : public IUnknown {
public:
    virtual HRESULT GetRecordCount(ULONG* pcRecords) = 0;
    virtual HRESULT GetBasicErrorInfo(ULONG ulRecordNum, ERRORINFO* pErrorInfo) = 0;
    // S_OK with a null object when the record has no custom error object.
    virtual HRESULT GetCustomErrorObject(ULONG ulRecordNum, REFIID riid, IUnknown** ppObject) = 0;
    virtual HRESULT GetErrorInfo(ULONG ulRecordNum, LCID lcid, IErrorInfo** ppErrorInfo) = 0;
};

class ISQLErrorInfo : public IUnknown {
public:
    virtual HRESULT GetSQLInfo(BSTR* pbstrSQLState, LONG* plNativeError) = 0;
};

// ---- Runtime -----------------------------------------------------------------------------------

// Where provider objects come from: the ODBC binding in the programs, a scripted provider in tests.
class odb_class_factory {
public:
    virtual ~odb_class_factory() = default;
    // REGDB_E_CLASSNOTREG when the class is not available.
    virtual HRESULT create_instance(REFCLSID clsid, REFIID riid, void** object) = 0;
    // Asks every statement the provider is running, on any thread, to stop, and refuses new ones
    // until allow_running (a cancelled run).
    virtual void cancel_running() {}
    virtual void allow_running() {}
};

// Cancels what the installed provider is running and what a run would start next; the calls
// waiting on it fail. odb_allow_running lets statements run again.
void odb_cancel_running();
void odb_allow_running();

// Installs the process's provider (not owned; null removes it) and answers the previous one.
odb_class_factory* odb_set_class_factory(odb_class_factory* factory) noexcept;
odb_class_factory* odb_get_class_factory() noexcept;

HRESULT CoInitializeEx(void* reserved, DWORD dwCoInit);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);
void* CoTaskMemAlloc(std::size_t size) noexcept;
void CoTaskMemFree(void* block) noexcept;

// The calling thread's current error object. GetErrorInfo hands it over (S_FALSE and null when
// there is none) and clears it; SetErrorInfo replaces it (null clears it).
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** ppErrorInfo);
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* pErrorInfo);

// The user's default locale id, passed to IErrorRecords::GetErrorInfo.
LCID GetUserDefaultLCID();
