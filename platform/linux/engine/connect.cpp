#include "platform/linux/engine/connect.h"

namespace tarnu::engine {

namespace {

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

std::optional<std::string> ConnectValue(std::string_view connect, std::string_view key) {
    std::optional<std::string> found;
    while (true) {
        std::size_t end = connect.find(';');
        std::string_view part = connect.substr(0, end);
        std::size_t eq = part.find('=');
        // Keys may carry blanks around them; values are taken as written.
        if (eq != std::string_view::npos && SameKey(Trim(part.substr(0, eq)), key)) {
            found = std::string(part.substr(eq + 1));
        }
        if (end == std::string_view::npos) {
            break;
        }
        connect.remove_prefix(end + 1);
    }
    return found;
}

std::string PasswordOf(const std::optional<std::string>& connect) {
    if (!connect) {
        return "";
    }
    return ConnectValue(*connect, "pwd").value_or("");
}

}  // namespace tarnu::engine
