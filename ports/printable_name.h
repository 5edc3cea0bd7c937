#pragma once

// Names that come from the file system, the registry or the settings file are shown and printed
// by the tool, often to an administrator's terminal or the system journal. A hostile name must
// not be able to break a line, move the cursor, reorder what is shown or fake a message there.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnu {

// name for a message, a label or a line of output: valid UTF-8 stays as it is; control
// characters (C0, DEL, C1, so also ESC), the line and paragraph separators, the bidirectional
// embeddings, overrides and isolates (U+202A..U+202E, U+2066..U+2069) and bytes that are not
// UTF-8 are written as \xNN for each of their bytes.
std::string PrintableName(std::string_view name);

// The length of the UTF-8 character at s[i]: a whole sequence when the bytes form one, else 0.
// Overlong forms, surrogates and values beyond U+10FFFF are no characters.
std::size_t Utf8Length(std::string_view s, std::size_t i);

}  // namespace tarnu
