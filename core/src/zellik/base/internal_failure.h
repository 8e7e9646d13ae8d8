#pragma once

#include <stdexcept>
#include <string>

namespace zellik {

// A broken precondition or invariant of the engine (two nodes of one name, a
// net over an invalid graph, a packet whose location has no entry). This is
// the only exception the core throws; expected errors are returned as values.
// The Python layer turns it into the module's panic exception.
class InternalFailure : public std::runtime_error {
 public:
  explicit InternalFailure(const std::string& message) : std::runtime_error(message) {}
};

// Throws InternalFailure carrying `message`.
[[noreturn]] inline void fail(const std::string& message) { throw InternalFailure(message); }

}  // namespace zellik
