#pragma once

#include "TK/tk_exception.hpp"

// A text the platform cannot turn into the requested variant type.
class ole_type_exception : public tk_exception {
public:
    ole_type_exception();
};
