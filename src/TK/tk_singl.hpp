#pragma once

#include "TK/tk_exception.hpp"

// Process-wide single instance: registers on construction, clears on destruction.
// A second instance, or a use before the first, is an internal error.
template <class T> class tk_single {
public:
    static T* instance() noexcept { return static_cast<T*>(s_instance); }
    static T& get() {
        if (!s_instance) throw tk_mail_assertion("..\\TK/tk_singl.hpp", 41);
        return *instance();
    }

    tk_single(const tk_single&) = delete;
    tk_single& operator=(const tk_single&) = delete;

protected:
    tk_single() {
        if (s_instance) throw tk_mail_assertion("..\\TK/tk_singl.hpp", 27);
        // Kept as the base: the derived object is not complete until its constructor ends.
        s_instance = this;
    }
    ~tk_single() {
        if (s_instance == this) s_instance = nullptr;
    }

private:
    static inline tk_single* s_instance = nullptr;
};
