#pragma once

// Plain dicts, for traces that are written out as JSON and read back: dicts
// of str, int, bool, None and lists only, ids as their 26-character text.
// Reading is strict: a dict that does not have exactly the fields of its
// kind raises ValueError "invalid field '{path}': {reason}", the path naming
// the field from the dict given ("epoch.in_salvo.packets[0]").

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zellik/base/name.h"
#include "zellik/net/ulid.h"
#include "zellik_py/binding/args.h"
#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/guard.h"
#include "zellik_py/binding/methods.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// Builds one dict, keys in the order they are set.
class DictWriter {
 public:
  DictWriter();
  DictWriter& set(const char* key, Ref value);
  Ref done() { return std::move(dict_); }

 private:
  Ref dict_;
};

// Reads the fields of one dict; every failure names the field by its path.
class DictReader {
 public:
  // ValueError naming `path` when `obj` is not a dict (the top-level caller
  // checks the argument's type itself).
  DictReader(PyObject* obj, std::string path);
  DictReader(const DictReader&) = delete;
  DictReader& operator=(const DictReader&) = delete;

  // The path of `key` in this dict, as messages show it.
  std::string path_of(std::string_view key) const;
  // Borrowed; ValueError "missing" when absent.
  PyObject* field(const char* key);
  std::string text(const char* key);
  Name name(const char* key);
  Ulid id(const char* key);
  // None or a str.
  std::optional<std::string> optional_text(const char* key);
  std::int64_t i64(const char* key);
  std::uint64_t u64(const char* key);
  bool boolean(const char* key);
  // A list field's items (borrowed from the list, which the dict keeps alive).
  std::vector<PyObject*> list(const char* key);
  // ValueError "unexpected field" for a key no read has asked for.
  void finish() const;

 private:
  PyObject* dict_;
  std::string path_;
  std::vector<std::string> read_;
};

// ValueError "invalid field '{path}': {reason}".
[[noreturn]] void raise_field(const std::string& path, std::string_view reason);
// "{list_path}[i]": the path of a list's item, as messages name it.
inline std::string item_path(const std::string& list_path, std::size_t i) {
  return list_path + "[" + std::to_string(i) + "]";
}
// A str at `path`; ValueError "expected str" otherwise.
std::string text_at(PyObject* obj, const std::string& path);
// A ULID text at `path`, parsed; ValueError with the parse reason otherwise.
Ulid id_at(PyObject* obj, const std::string& path);

// The value a dict given to from_dict, {"kind": name, ...fields}, describes: the
// alternative of `Variant` at the position of its name in `names`,
// default-made and then filled by `ReadFields{}(d, alternative)`; d.finish()
// follows. ValueError "unknown {what} kind '{name}'" on the "kind" field for
// a name that is not in `names`.
template <class Variant, class ReadFields>
Variant variant_from_dict(PyObject* data,
                          const std::array<std::string_view, std::variant_size_v<Variant>>& names,
                          std::string_view what) {
  DictReader d(data, "");
  using Reader = Variant (*)(DictReader&);
  static constexpr auto kReaders = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<Reader, sizeof...(I)>{+[](DictReader& r) {
      std::variant_alternative_t<I, Variant> alternative{};
      ReadFields{}(r, alternative);
      return Variant(std::in_place_index<I>, std::move(alternative));
    }...};
  }
  (std::make_index_sequence<std::variant_size_v<Variant>>());
  const std::string kind = d.text("kind");
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (kind != names[i]) continue;
    Variant value = kReaders[i](d);
    d.finish();
    return value;
  }
  raise_field("kind", "unknown " + std::string(what) + " kind '" + kind + "'");
}

// The entry point of a class's static from_dict(data): TypeError for an
// argument that is not a dict, else the object Read makes of it.
template <Ref (*Read)(PyObject* data)>
PyObject* from_dict_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("from_dict", std::array{"data"}, 1, args, nargs, kwnames);
    if (!PyDict_Check(a[0])) raise_arg_type(a[0], "data", "dict");
    return Read(a[0]);
  });
}

// The docstring of from_dict for a class whose value is "the {kWhat}".
template <Literal kWhat>
constexpr auto kFromDictDoc = [] {
  constexpr std::string_view head = "from_dict(data)\n--\n\nThe ";
  constexpr std::string_view tail =
      " that to_dict described.\n"
      "Raises ValueError naming the first field that is missing, unexpected or malformed.";
  constexpr std::size_t what = sizeof(kWhat.chars) - 1;
  std::array<char, head.size() + what + tail.size() + 1> doc{};
  std::size_t at = 0;
  for (char c : head) doc[at++] = c;
  for (std::size_t i = 0; i < what; ++i) doc[at++] = kWhat.chars[i];
  for (char c : tail) doc[at++] = c;
  return doc;
}();

// The table entry of a class's from_dict: from_dict_def<from_dict, "event">().
template <Ref (*Read)(PyObject* data), Literal kWhat>
PyMethodDef from_dict_def() {
  return static_def("from_dict", &from_dict_entry<Read>, kFromDictDoc<kWhat>.data());
}

}  // namespace zellik::py
