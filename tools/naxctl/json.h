// A small JSON value: enough to print results and to read user files.  Reading and
// writing are done by nlohmann-json (json.cc).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace naxctl {

class Json {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };

  Json() = default;
  static Json boolean(bool value);
  static Json number(int64_t value);
  static Json number(uint64_t value);
  static Json number(int value) { return number(static_cast<int64_t>(value)); }
  static Json number(unsigned value) { return number(static_cast<uint64_t>(value)); }
  // A number by its text as written: a user id of ten digits must not pass through a
  // double on its way from a file to the node.
  static Json number_text(std::string text);
  static Json string(std::string value);
  static Json array();
  static Json object();

  Type type() const { return type_; }
  bool is_object() const { return type_ == Type::Object; }
  bool is_array() const { return type_ == Type::Array; }

  // Arrays.
  Json& push(Json value);
  const std::vector<Json>& items() const { return items_; }
  // Objects keep their keys in the order added.
  Json& add(std::string key, Json value);
  const std::vector<std::pair<std::string, Json>>& fields() const { return fields_; }
  const Json* find(std::string_view key) const;

  // A number's text as written, a string's contents, "true"/"false" for booleans.
  const std::string& text() const { return text_; }
  bool as_bool() const { return text_ == "true"; }

  // Compact on one line when indent < 0, else pretty with that many spaces a level.
  std::string dump(int indent = -1) const;

  // Throws JsonError with the byte offset of the fault.
  static Json parse(std::string_view input);

 private:
  Type type_ = Type::Null;
  std::string text_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> fields_;
};

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text quoted and escaped as a JSON string.
std::string json_quote(std::string_view text);

}  // namespace naxctl
