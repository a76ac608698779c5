#pragma once

#include "TK/tk_exception.hpp"

// Process-wide single instance: registers on construction, clears on destruction.
// A second instance, or a use before the first, is an internal error.
template <class T> class tk_single {
public:
    static T* instance() noexcept { return s_instance; }
    static T& get() {
        if (!s_instance) throw tk_mail_assertion("..\\TK/tk_singl.hpp", 41);
        return *s_instance;
    }

    tk_single(const tk_single&) = delete;
    tk_single& operator=(const tk_single&) = delete;

protected:
    tk_single() {
        if (s_instance) throw tk_mail_assertion("..\\TK/tk_singl.hpp", 27);
        s_instance = static_cast<T*>(this);
    }
    ~tk_single() {
        if (s_instance == static_cast<T*>(this)) s_instance = nullptr;
    }

private:
    static inline T* s_instance = nullptr;
};
