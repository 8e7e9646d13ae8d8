#pragma once

#include <cstdint>
#include <string>

namespace zellik {

// Why an undo stopped, with its detail text. Intentionally copyable.
struct UndoError {
  enum class Kind : std::uint8_t { StateMismatch = 0, NotFound = 1, NotUndoable = 2, Internal = 3 };

  Kind kind;
  std::string text;

  static UndoError StateMismatch(std::string text) { return {Kind::StateMismatch, std::move(text)}; }
  static UndoError NotFound(std::string text) { return {Kind::NotFound, std::move(text)}; }
  static UndoError NotUndoable(std::string text) { return {Kind::NotUndoable, std::move(text)}; }
  static UndoError Internal(std::string text) { return {Kind::Internal, std::move(text)}; }
};

}  // namespace zellik
