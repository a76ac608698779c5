#include "common/drelk_converter.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

drelk_converter::drelk_converter() {
    TK_TRACE(2, "drelk_converter::ctor");
}

drelk_converter::~drelk_converter() = default;

char drelk_converter::delimiter_char(int code) {
    static const char delimiters[] = {'\t', ';', ','};
    TK_ASSERT(code >= 0 && code <= 2, "drelk_converter");
    return delimiters[code];
}

void drelk_converter::operator()() {
    TK_TRACE(2, "drelk_converter::operator()");
    throw tk_exception("The conversion is not available in this build.", 1);
}
