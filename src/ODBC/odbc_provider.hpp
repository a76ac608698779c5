#pragma once

#include "MSS/odb_oledb.hpp"

#include <string>

// The provider classes over unixODBC, in the order the logic tries them:
// CLSID_SQLNCLI11 is Microsoft's "ODBC Driver 18 for SQL Server", CLSID_SQLNCLI10 its "ODBC Driver 17
// for SQL Server", and CLSID_MSDAINITIALIZE the generic path through the FreeTDS driver ("FreeTDS"),
// whose OLE DB initialisation string is translated into FreeTDS's keys. A class cannot be created
// when unixODBC cannot find or load its driver (or, for the generic path, is unusable itself).
class odbc_provider : public odb_class_factory {
public:
    HRESULT create_instance(REFCLSID clsid, REFIID riid, void** object) override;
    void cancel_running() override;
    void allow_running() override;

    // The ODBC driver behind a provider class; empty for other classes.
    static std::u16string driver_name(REFCLSID clsid);
};

// Makes one process-wide odbc_provider the source of provider objects.
void odbc_install_provider();
