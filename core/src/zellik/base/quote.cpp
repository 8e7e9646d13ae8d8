#include "zellik/base/quote.h"

namespace zellik {

std::string quote_string_literal(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\r':
        out.append("\\r");
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out.append("\\x");
          out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 0xf]);
        } else {
          // Printable ASCII and the bytes of multi-byte UTF-8 sequences.
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace zellik
