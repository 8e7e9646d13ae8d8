#pragma once

#include <cstddef>
#include <utility>

namespace zellik {

// The one pointer inside a small value that is copied often (Name,
// PacketLocation): it points to an immutable record shared by all copies,
// which counts its sharers in an atomic member `refs` (1 when made), or is
// null for the value that needs no record. Copying adds a sharer; the last
// sharer to go frees the record. Copies may be made and dropped on several
// threads at once; the record must not change once shared.
template <class Rep>
class SharedRecord {
 public:
  SharedRecord() noexcept = default;
  // Takes over one share of `rep` already counted in its `refs`.
  explicit SharedRecord(Rep* rep) noexcept : rep_(rep) {}
  SharedRecord(const SharedRecord& other) noexcept : rep_(other.rep_) { retain(); }
  SharedRecord(SharedRecord&& other) noexcept : rep_(std::exchange(other.rep_, nullptr)) {}
  // Copy or move, then swap: safe when assigned to itself.
  SharedRecord& operator=(SharedRecord other) noexcept {
    swap(other);
    return *this;
  }
  ~SharedRecord() { release(); }

  Rep* get() const noexcept { return rep_; }
  Rep* operator->() const noexcept { return rep_; }
  Rep& operator*() const noexcept { return *rep_; }
  // Whether two values share one record (or both have none).
  friend bool operator==(const SharedRecord& a, const SharedRecord& b) noexcept {
    return a.rep_ == b.rep_;
  }
  friend bool operator==(const SharedRecord& a, std::nullptr_t) noexcept {
    return a.rep_ == nullptr;
  }

 private:
  void swap(SharedRecord& other) noexcept { std::swap(rep_, other.rep_); }
  void retain() const noexcept {
    if (rep_ != nullptr) rep_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  // The analyzer cannot follow the shared count and reports a double delete
  // when two copies of one record die in one path; the last sharer frees it.
  void release() noexcept {
    if (rep_ != nullptr && rep_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete rep_;  // NOLINT(clang-analyzer-cplusplus.NewDelete)
    }
  }

  Rep* rep_ = nullptr;
};

}  // namespace zellik
