#pragma once

#include <functional>

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

}  // namespace tarnu::test
