#pragma once

#include "MSS/ole_com_ptr.hpp"

#include <string>

// One SQL command on a session.
class odb_command {
public:
    // On an open session.
    explicit odb_command(IOpenRowset* session);
    // On an initialised data source: the command gets a session of its own.
    explicit odb_command(IDBInitialize* data_source);

    // Runs the text; with a rowset holder, the result comes back as a rowset.
    void execute(const std::u16string& text, ole_com_ptr<IRowset>* rowset = nullptr);

private:
    void create_command();

    ole_com_ptr<IOpenRowset> m_session;
    ole_com_ptr<ICommandText> m_command;
};
