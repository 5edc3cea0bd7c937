#include "platform/linux/engine/jet_functions.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/sqlite.h"

namespace tarnu::engine {

namespace {

// Decodes UTF-8 into code points with capital letters folded to lower case. A byte that starts
// no valid sequence stands for itself, marked so it cannot equal a real character.
std::vector<std::uint32_t> Decode(std::string_view s) {
    std::vector<std::uint32_t> out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = b;
        std::size_t len = 1;
        if (b >= 0xc0 && b < 0xf8) {
            len = b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : 2;
            cp = b & (0x3f >> (len - 1));
            bool ok = i + len <= s.size();
            for (std::size_t k = 1; ok && k < len; ++k) {
                auto c = static_cast<unsigned char>(s[i + k]);
                ok = (c & 0xc0) == 0x80;
                cp = (cp << 6) | (c & 0x3f);
            }
            if (!ok) {
                cp = 0x80000000u | b;
                len = 1;
            }
        } else if (b >= 0x80) {
            cp = 0x80000000u | b;
        }
        // ASCII and Latin-1 capitals (À to Þ, not ×), which covers the German umlauts.
        if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)) {
            cp += 32;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

struct PatternItem {
    enum class Kind { AnyRun, One, Digit, Set, Literal } kind;
    std::uint32_t literal = 0;
    bool negated = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges = {};

    bool Matches(std::uint32_t c) const {
        switch (kind) {
            case Kind::One:
                return true;
            case Kind::Digit:
                return c >= '0' && c <= '9';
            case Kind::Literal:
                return c == literal;
            case Kind::Set: {
                bool in = false;
                for (const auto& [lo, hi] : ranges) {
                    in = in || (c >= lo && c <= hi);
                }
                return in != negated;
            }
            case Kind::AnyRun:
                break;
        }
        return false;
    }
};

std::vector<PatternItem> CompilePattern(const std::vector<std::uint32_t>& p) {
    std::vector<PatternItem> items;
    for (std::size_t i = 0; i < p.size(); ++i) {
        std::uint32_t c = p[i];
        if (c == '*') {
            items.push_back({PatternItem::Kind::AnyRun});
        } else if (c == '?') {
            items.push_back({PatternItem::Kind::One});
        } else if (c == '#') {
            items.push_back({PatternItem::Kind::Digit});
        } else if (c == '[') {
            std::size_t close = i + 1;
            while (close < p.size() && p[close] != ']') {
                ++close;
            }
            if (close >= p.size()) {
                // An unclosed bracket is just a character.
                items.push_back({PatternItem::Kind::Literal, c});
                continue;
            }
            PatternItem set{PatternItem::Kind::Set};
            std::size_t j = i + 1;
            if (j < close && p[j] == '!') {
                set.negated = true;
                ++j;
            }
            while (j < close) {
                if (j + 2 < close && p[j + 1] == '-') {
                    set.ranges.emplace_back(p[j], p[j + 2]);
                    j += 3;
                } else {
                    set.ranges.emplace_back(p[j], p[j]);
                    ++j;
                }
            }
            items.push_back(std::move(set));
            i = close;
        } else {
            items.push_back({PatternItem::Kind::Literal, c});
        }
    }
    return items;
}

void FunctionError(sqlite3_context* context, std::int32_t number) {
    std::string text = FunctionErrorText(number);
    sqlite3_result_error(context, text.c_str(), static_cast<int>(text.size()));
}

std::string_view TextOf(sqlite3_value* v) {
    const unsigned char* text = sqlite3_value_text(v);
    return text ? std::string_view(reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(sqlite3_value_bytes(v)))
                : std::string_view();
}

void LikeFunction(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    std::string value(TextOf(argv[0]));
    std::string pattern(TextOf(argv[1]));
    sqlite3_result_int(context, JetLike(value, pattern) ? 1 : 0);
}

bool Numeric(sqlite3_value* v) {
    int type = sqlite3_value_numeric_type(v);
    return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
}

void DivideFunction(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    if (!Numeric(argv[0]) || !Numeric(argv[1])) {
        FunctionError(context, jet::ConversionError);
        return;
    }
    double divisor = sqlite3_value_double(argv[1]);
    if (divisor == 0) {
        FunctionError(context, jet::DivisionByZero);
        return;
    }
    sqlite3_result_double(context, sqlite3_value_double(argv[0]) / divisor);
}

void ConcatFunction(sqlite3_context* context, int, sqlite3_value** argv) {
    bool leftNull = sqlite3_value_type(argv[0]) == SQLITE_NULL;
    bool rightNull = sqlite3_value_type(argv[1]) == SQLITE_NULL;
    if (leftNull && rightNull) {
        sqlite3_result_null(context);
        return;
    }
    std::string joined;
    if (!leftNull) {
        joined += TextOf(argv[0]);
    }
    if (!rightNull) {
        joined += TextOf(argv[1]);
    }
    sqlite3_result_text64(context, joined.data(), joined.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

}  // namespace

bool JetLike(std::string_view value, std::string_view pattern) {
    std::vector<std::uint32_t> s = Decode(value);
    std::vector<PatternItem> p = CompilePattern(Decode(pattern));
    // Greedy matching that remembers only the last "*": linear in practice, never worse than
    // the product of the two lengths.
    std::size_t si = 0, pi = 0;
    std::size_t starP = SIZE_MAX, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi].kind == PatternItem::Kind::AnyRun) {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() && p[pi].Matches(s[si])) {
            ++pi;
            ++si;
        } else if (starP != SIZE_MAX) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi].kind == PatternItem::Kind::AnyRun) {
        ++pi;
    }
    return pi == p.size();
}

void RegisterJetFunctions(sqlite3* db) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY;
    sqlite3_create_function_v2(db, "jet_like", 2, flags, nullptr, LikeFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "jet_div", 2, flags, nullptr, DivideFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "jet_concat", 2, flags, nullptr, ConcatFunction, nullptr,
                               nullptr, nullptr);
}

}  // namespace tarnu::engine
