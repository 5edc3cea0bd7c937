#pragma once

#include <cstdint>
#include <string>

namespace tarnu::engine {

// One field value as the engine stores and returns it.
struct Value {
    enum class Type { Null, Integer, Real, Text, Blob };

    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes;  // Text (UTF-8, may hold NUL) or Blob

    static Value Null() { return {}; }
    static Value Integer(std::int64_t v) { return {Type::Integer, v, 0, {}}; }
    static Value Real(double v) { return {Type::Real, 0, v, {}}; }
    static Value Text(std::string v) { return {Type::Text, 0, 0, std::move(v)}; }
    static Value Blob(std::string v) { return {Type::Blob, 0, 0, std::move(v)}; }

    bool IsNull() const { return type == Type::Null; }
    // A readable form: "" for Null, decimal numbers, the text itself, "0x..." for binary data.
    std::string ToText() const;
};

}  // namespace tarnu::engine
