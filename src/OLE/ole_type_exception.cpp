#include "OLE/ole_type_exception.hpp"

ole_type_exception::ole_type_exception() : tk_exception("The operating type is not supported yet", 1) {}
