#pragma once

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
  // puts before the text ("State mismatch: ", ...).
  static constexpr std::string_view kind_name(Kind kind) {
    switch (kind) {
      case Kind::StateMismatch:
        return "UndoStateMismatch";
      case Kind::NotFound:
        return "UndoNotFound";
      case Kind::NotUndoable:
        return "UndoNotUndoable";
      case Kind::Internal:
        return "UndoInternal";
    }
    return "UndoInternal";
  }
  static constexpr std::string_view prefix(Kind kind) {
    switch (kind) {
      case Kind::StateMismatch:
        return "State mismatch: ";
      case Kind::NotFound:
        return "Entity not found: ";
      case Kind::NotUndoable:
        return "Action not undoable: ";
      case Kind::Internal:
        return "Internal error: ";
    }
    return "Internal error: ";
  }
  // The message: the kind's prefix, then the text.
  std::string message() const { return std::string(prefix(kind)) + text; }
};

}  // namespace zellik
