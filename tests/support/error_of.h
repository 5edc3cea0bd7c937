#pragma once

#include <functional>
#include <string>

#include "ports/error.h"

namespace tarnu::test {

// The number of the error f raises, or 0 when it returns normally.
inline int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

// "number: description" of the error f raises, or "" when it returns normally.
inline std::string ErrorTextOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return std::to_string(e.number()) + ": " + e.description();
    }
    return "";
}

}  // namespace tarnu::test
