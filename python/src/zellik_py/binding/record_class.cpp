#include "zellik_py/binding/record_class.h"

namespace zellik::py {

std::string needed_fields(const char* const* names, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += i == 0 ? "" : i + 1 == count ? " and " : ", ";
    text += "'" + std::string(names[i]) + "'";
  }
  return text;
}

}  // namespace zellik::py
