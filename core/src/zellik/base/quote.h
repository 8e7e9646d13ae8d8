#pragma once

#include <string>
#include <string_view>

namespace zellik {

// Writes `text` as a double-quoted string literal, escaping quote, backslash
// and control characters with a backslash.
std::string quote_string_literal(std::string_view text);

}  // namespace zellik
