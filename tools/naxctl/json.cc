// A small JSON value whose reading and writing is done by nlohmann-json: the tree keeps
// numbers as written and object keys in their order, which is what naxctl needs.
#include "json.h"

#include <nlohmann/json.hpp>

namespace naxctl {

Json Json::boolean(bool value) {
  Json j;
  j.type_ = Type::Bool;
  j.text_ = value ? "true" : "false";
  return j;
}

Json Json::number(int64_t value) {
  Json j;
  j.type_ = Type::Number;
  j.text_ = std::to_string(value);
  return j;
}

Json Json::number(uint64_t value) {
  Json j;
  j.type_ = Type::Number;
  j.text_ = std::to_string(value);
  return j;
}

Json Json::number_text(std::string text) {
  Json j;
  j.type_ = Type::Number;
  j.text_ = std::move(text);
  return j;
}

Json Json::string(std::string value) {
  Json j;
  j.type_ = Type::String;
  j.text_ = std::move(value);
  return j;
}

Json Json::array() {
  Json j;
  j.type_ = Type::Array;
  return j;
}

Json Json::object() {
  Json j;
  j.type_ = Type::Object;
  return j;
}

Json& Json::push(Json value) {
  items_.push_back(std::move(value));
  return *this;
}

Json& Json::add(std::string key, Json value) {
  fields_.emplace_back(std::move(key), std::move(value));
  return *this;
}

const Json* Json::find(std::string_view key) const {
  for (const auto& [name, value] : fields_) {
    if (name == key) return &value;
  }
  return nullptr;
}

namespace {

using Library = nlohmann::ordered_json;

// Deeper documents are refused rather than followed: user files are flat.
constexpr std::size_t kMaxDepth = 64;

Library to_library(const Json& value) {
  switch (value.type()) {
    case Json::Type::Null:
      return nullptr;
    case Json::Type::Bool:
      return value.as_bool();
    case Json::Type::Number: {
      const std::string& text = value.text();
      if (text.find_first_of(".eE") == std::string::npos) {
        try {
          return text[0] == '-' ? Library(std::stoll(text)) : Library(std::stoull(text));
        } catch (const std::exception&) {
        }
      }
      return Library::parse(text, nullptr, false);  // discarded (null) if not a number
    }
    case Json::Type::String:
      return value.text();
    case Json::Type::Array: {
      Library out = Library::array();
      for (const Json& item : value.items()) out.push_back(to_library(item));
      return out;
    }
    case Json::Type::Object: {
      Library out = Library::object();
      for (const auto& [key, item] : value.fields()) out[key] = to_library(item);
      return out;
    }
  }
  return nullptr;
}

// Builds the tree from the library's SAX events, numbers by their text as written.
class Builder : public nlohmann::json_sax<Library> {
 public:
  Json result;

  bool null() override { return put(Json()); }
  bool boolean(bool value) override { return put(Json::boolean(value)); }
  bool number_integer(number_integer_t value) override {
    return put(Json::number(static_cast<int64_t>(value)));
  }
  bool number_unsigned(number_unsigned_t value) override {
    return put(Json::number(static_cast<uint64_t>(value)));
  }
  bool number_float(number_float_t, const string_t& text) override {
    return put(Json::number_text(text));
  }
  bool string(string_t& value) override { return put(Json::string(value)); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return open(Json::object()); }
  bool key(string_t& value) override {
    key_ = value;
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Json::array()); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) override {
    throw JsonError("JSON at byte " + std::to_string(position) + ": " + e.what());
  }

 private:
  // Adds a complete value to the container being built, or makes it the result.
  bool put(Json value) {
    if (stack_.empty()) {
      result = std::move(value);
    } else if (stack_.back().second.is_array()) {
      stack_.back().second.push(std::move(value));
    } else {
      stack_.back().second.add(key_, std::move(value));
    }
    return true;
  }
  bool open(Json container) {
    if (stack_.size() >= kMaxDepth) {
      throw JsonError("JSON nested deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    stack_.emplace_back(key_, std::move(container));
    return true;
  }
  bool close() {
    auto [key, value] = std::move(stack_.back());
    stack_.pop_back();
    key_ = std::move(key);
    return put(std::move(value));
  }

  std::string key_;
  std::vector<std::pair<std::string, Json>> stack_;  // open containers, with their keys
};

std::string dump_library(const Library& value, int indent) {
  // Texts from a node need not be valid UTF-8: bad bytes become U+FFFD instead of failing.
  return value.dump(indent, ' ', false, Library::error_handler_t::replace);
}

}  // namespace

std::string json_quote(std::string_view text) {
  return dump_library(Library(std::string(text)), -1);
}

std::string Json::dump(int indent) const {
  return dump_library(to_library(*this), indent);
}

Json Json::parse(std::string_view input) {
  Builder builder;
  try {
    if (!Library::sax_parse(input, &builder)) throw JsonError("JSON: not a document");
  } catch (const nlohmann::json::exception& e) {
    throw JsonError(std::string("JSON: ") + e.what());
  }
  return builder.result;
}

}  // namespace naxctl
