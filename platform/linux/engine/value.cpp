#include "platform/linux/engine/value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarnu::engine {

std::string Value::ToText() const {
    switch (type) {
        case Type::Null:
            return "";
        case Type::Integer:
            return std::to_string(integer);
        case Type::Real: {
            if (std::isnan(real)) {
                return "NaN";
            }
            // The shortest form that reads back as the same number.
            char buf[40];
            for (int precision = 15; precision <= 17; ++precision) {
                std::snprintf(buf, sizeof buf, "%.*g", precision, real);
                if (std::strtod(buf, nullptr) == real) {
                    break;
                }
            }
            return buf;
        }
        case Type::Text:
            return bytes;
        case Type::Blob: {
            static const char digits[] = "0123456789ABCDEF";
            std::string out = "0x";
            for (char c : bytes) {
                auto b = static_cast<unsigned char>(c);
                out += digits[b >> 4];
                out += digits[b & 15];
            }
            return out;
        }
    }
    return "";
}

}  // namespace tarnu::engine
