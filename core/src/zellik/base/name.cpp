#include "zellik/base/name.h"

namespace zellik {

Name::Name(std::string text) {
  const std::size_t h = std::hash<std::string_view>{}(text);
  rep_ = new Rep{{1}, h, std::move(text)};
}

Name::Name(std::string_view text) : Name(std::string(text)) {}

Name::Name(const char* text) : Name(std::string(text)) {}

const std::string& Name::str() const {
  static const std::string kEmpty;
  return rep_ ? rep_->text : kEmpty;
}

}  // namespace zellik
