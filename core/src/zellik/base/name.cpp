#include "zellik/base/name.h"

namespace zellik {

Name::Name(std::string text) {
  const std::size_t hash = std::hash<std::string_view>{}(text);
  rep_ = SharedRecord<Rep>(new Rep{{1}, hash, std::move(text)});
}

Name::Name(std::string_view text) : Name(std::string(text)) {}

Name::Name(const char* text) : Name(std::string(text)) {}

bool Name::same_text(const Name& a, const Name& b) {
  return a.hash() == b.hash() && a.view() == b.view();
}

const std::string& Name::empty_text() {
  static const std::string* const kEmpty = new std::string();
  return *kEmpty;
}

std::size_t Name::empty_hash() {
  static const std::size_t kHash = std::hash<std::string_view>{}(std::string_view());
  return kHash;
}

}  // namespace zellik
