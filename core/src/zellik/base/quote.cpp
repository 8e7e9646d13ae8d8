#include "zellik/base/quote.h"

#include <algorithm>
#include <iterator>

namespace zellik {

namespace {

// The characters written as a backslash and one more character.
struct ShortEscape {
  char ch;
  std::string_view text;
};
constexpr ShortEscape kShortEscapes[] = {
    {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"},
};

}  // namespace

std::string quote_string_literal(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    const auto* escape = std::find_if(std::begin(kShortEscapes), std::end(kShortEscapes),
                                      [ch](const ShortEscape& e) { return e.ch == ch; });
    if (escape != std::end(kShortEscapes)) {
      out.append(escape->text);
    } else if (byte < 0x20 || byte == 0x7f) {
      out.append("\\x");
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    } else {
      // Printable ASCII and the bytes of multi-byte UTF-8 sequences.
      out.push_back(ch);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace zellik
