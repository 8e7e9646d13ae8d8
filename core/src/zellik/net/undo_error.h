#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zellik {

// Why an undo stopped, with its detail text. Intentionally copyable.
struct UndoError {
  enum class Kind : std::uint8_t { StateMismatch = 0, NotFound = 1, NotUndoable = 2, Internal = 3 };

  Kind kind;
  std::string text;

  static UndoError StateMismatch(std::string text) {
    return {Kind::StateMismatch, std::move(text)};
  }
  static UndoError NotFound(std::string text) { return {Kind::NotFound, std::move(text)}; }
  static UndoError NotUndoable(std::string text) { return {Kind::NotUndoable, std::move(text)}; }
  static UndoError Internal(std::string text) { return {Kind::Internal, std::move(text)}; }

  // The variant name ("UndoStateMismatch", ...) and the prefix its message
  // puts before the text ("State mismatch: ", ...), by kind.
  struct KindText {
    std::string_view name;
    std::string_view prefix;
  };
  static constexpr std::array<KindText, 4> kKindTexts = {{
      {"UndoStateMismatch", "State mismatch: "},
      {"UndoNotFound", "Entity not found: "},
      {"UndoNotUndoable", "Action not undoable: "},
      {"UndoInternal", "Internal error: "},
  }};
  static constexpr std::string_view kind_name(Kind kind) {
    return kKindTexts.at(static_cast<std::size_t>(kind)).name;
  }
  static constexpr std::string_view prefix(Kind kind) {
    return kKindTexts.at(static_cast<std::size_t>(kind)).prefix;
  }
  // The message: the kind's prefix, then the text.
  std::string message() const { return std::string(prefix(kind)) + text; }
};
// A kind added after Internal needs its texts.
static_assert(UndoError::kKindTexts.size() ==
              static_cast<std::size_t>(UndoError::Kind::Internal) + 1);

}  // namespace zellik
