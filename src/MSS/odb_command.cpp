#include "MSS/odb_command.hpp"

#include "MSS/odb_exception.hpp"
#include "TK/tk_log.hpp"

odb_command::odb_command(IOpenRowset* session) {
    TK_TRACE(1, "odb_command::ctor(1)");
    TK_ASSERT(session != nullptr, "odb_command.cpp");
    session->AddRef();
    m_session = ole_com_ptr<IOpenRowset>(session);
    create_command();
}

odb_command::odb_command(IDBInitialize* data_source) {
    TK_TRACE(1, "odb_command::ctor(2)");
    TK_ASSERT(data_source != nullptr, "odb_command.cpp");
    ole_com_ptr<IDBCreateSession> factory;
    odb_check(data_source->QueryInterface(IID_IDBCreateSession, factory.put_void()));
    odb_check(factory->CreateSession(nullptr, IID_IOpenRowset, m_session.put_unknown()));
    create_command();
}

void odb_command::create_command() {
    ole_com_ptr<IDBCreateCommand> factory;
    odb_check(m_session.query(IID_IDBCreateCommand, factory));
    ole_com_ptr<ICommand> command;
    odb_check(factory->CreateCommand(nullptr, IID_ICommand, command.put_unknown()));
    odb_check(command.query(IID_ICommandText, m_command));
}

void odb_command::execute(const std::u16string& text, ole_com_ptr<IRowset>* rowset) {
    TK_WTRACE(2, u"odb_command::execute(%s)", text.c_str());
    odb_check(m_command->SetCommandText(DBGUID_DBSQL, text.c_str()));
    if (rowset)
        odb_check(m_command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset->put_unknown()));
    else
        odb_check(m_command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr));
}
