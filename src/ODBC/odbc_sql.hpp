#pragma once

// The ODBC API for the binding's sources. <sqltypes.h> declares Windows type names of its own
// (ULONG as a 64-bit long, BYTE, DWORD, ...) that clash with the OLE DB ones; it skips them when
// told the platform's names exist, so they come from odb_oledb.hpp and the few it lacks from here.

#include "MSS/odb_oledb.hpp"

#include <cstdint>

#ifndef ALREADY_HAVE_WINDOWS_TYPE
#define ALREADY_HAVE_WINDOWS_TYPE
#endif
#ifndef FAR
#define FAR
#endif
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef SQL_API
#define SQL_API
#endif
using WORD = std::uint16_t;
using SQLHWND = void*;
using RETCODE = short;
using UCHAR = unsigned char;
using SCHAR = signed char;
using SQLSCHAR = SCHAR;
using SWORD = short;
using UWORD = unsigned short;
using SDWORD = std::int32_t;
using UDWORD = std::uint32_t;
using SDOUBLE = double;
using SFLOAT = float;
using PTR = void*;
using HWND = void*;
using WCHAR = unsigned short;
using CHAR = char;
using LPSTR = char*;
using LPWSTR = WCHAR*;
using LPCSTR = const char*;
using LPCWSTR = const WCHAR*;
using LPDWORD = DWORD*;
using BOOL = int;

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
