#pragma once

// The dynamically typed value the registry module is handed: a type code and a value. Only the
// type codes that the registry module tells apart carry a usable payload; every other code is
// kept so that callers can hand it over and the module can see that it stores nothing.

#include <cstdint>
#include <string>
#include <utility>

namespace tarnu {

// Boolean as procedures pass it: true is -1, false is 0.
using VbBoolean = std::int16_t;
constexpr VbBoolean VbTrue = -1;
constexpr VbBoolean VbFalse = 0;

using VarType = std::uint16_t;
constexpr VarType VT_EMPTY = 0;
constexpr VarType VT_NULL = 1;
constexpr VarType VT_I2 = 2;
constexpr VarType VT_I4 = 3;
constexpr VarType VT_R4 = 4;
constexpr VarType VT_R8 = 5;
constexpr VarType VT_CY = 6;
constexpr VarType VT_DATE = 7;
constexpr VarType VT_BSTR = 8;
constexpr VarType VT_DISPATCH = 9;
constexpr VarType VT_ERROR = 10;
constexpr VarType VT_BOOL = 11;
constexpr VarType VT_VARIANT = 12;
constexpr VarType VT_UNKNOWN = 13;
constexpr VarType VT_DECIMAL = 14;
constexpr VarType VT_UI1 = 17;
constexpr VarType VT_ARRAY = 0x2000;

class Variant {
  public:
    // Empty.
    Variant() = default;

    static Variant Null() { return Variant(VT_NULL); }
    static Variant I2(std::int16_t v) { return Variant(VT_I2, v); }
    static Variant I4(std::int32_t v) { return Variant(VT_I4, v); }
    static Variant R8(double v) { return Variant(VT_R8, 0, v); }
    static Variant Date(double serial) { return Variant(VT_DATE, 0, serial); }
    static Variant Bool(bool v) { return Variant(VT_BOOL, v ? VbTrue : VbFalse); }
    static Variant UI1(std::uint8_t v) { return Variant(VT_UI1, v); }
    static Variant Bstr(std::string text) {
        Variant v(VT_BSTR);
        v.text_ = std::move(text);
        return v;
    }
    // A value of a type the registry module does not store (objects, arrays, errors, ...),
    // known only by its type code.
    static Variant OfType(VarType vt) { return Variant(vt); }

    VarType vt() const { return vt_; }
    bool IsArray() const { return (vt_ & VT_ARRAY) != 0; }

    // The integer of an integer or boolean value; 0 for anything else.
    std::int64_t Integer() const { return integer_; }
    // The number of a single, double or date value; 0 for anything else.
    double Number() const { return number_; }
    // The text of a string value; empty for anything else.
    const std::string& Text() const { return text_; }

  private:
    explicit Variant(VarType vt, std::int64_t integer = 0, double number = 0)
        : vt_(vt), integer_(integer), number_(number) {}

    VarType vt_ = VT_EMPTY;
    std::int64_t integer_ = 0;
    double number_ = 0;
    std::string text_;
};

}  // namespace tarnu
