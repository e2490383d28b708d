// A small JSON value: writer and a strict reader.
#include "json.h"

#include <cctype>
#include <cstdio>

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

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Json::dump(int indent) const {
  std::string out;
  dump_to(out, indent, 0);
  return out;
}

void Json::dump_to(std::string& out, int indent, int depth) const {
  const auto newline = [&](int level) {
    if (indent < 0) return;
    out += '\n';
    out.append(static_cast<size_t>(indent * level), ' ');
  };
  switch (type_) {
    case Type::Null:
      out += "null";
      break;
    case Type::Bool:
    case Type::Number:
      out += text_;
      break;
    case Type::String:
      out += json_quote(text_);
      break;
    case Type::Array:
      out += '[';
      for (size_t i = 0; i < items_.size(); ++i) {
        if (i > 0) out += ",";
        newline(depth + 1);
        items_[i].dump_to(out, indent, depth + 1);
      }
      if (!items_.empty()) newline(depth);
      out += ']';
      break;
    case Type::Object:
      out += '{';
      for (size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0) out += ",";
        newline(depth + 1);
        out += json_quote(fields_[i].first);
        out += indent < 0 ? ":" : ": ";
        fields_[i].second.dump_to(out, indent, depth + 1);
      }
      if (!fields_.empty()) newline(depth);
      out += '}';
      break;
  }
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view input) : in_(input) {}

  Json document() {
    Json value = any(0);
    skip_space();
    if (pos_ != in_.size()) fail("unexpected text after the value");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) {
    throw JsonError("JSON at byte " + std::to_string(pos_) + ": " + what);
  }

  void skip_space() {
    while (pos_ < in_.size() && std::isspace(static_cast<unsigned char>(in_[pos_]))) ++pos_;
  }

  bool take(char c) {
    skip_space();
    if (pos_ < in_.size() && in_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void expect(char c) {
    if (!take(c)) fail(std::string("expected '") + c + "'");
  }

  Json any(int depth) {
    if (depth > 64) fail("nested too deeply");
    skip_space();
    if (pos_ >= in_.size()) fail("unexpected end");
    const char c = in_[pos_];
    if (c == '{') return object(depth);
    if (c == '[') return array(depth);
    if (c == '"') return Json::string(string());
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return number();
    if (word("true")) return Json::boolean(true);
    if (word("false")) return Json::boolean(false);
    if (word("null")) return Json();
    fail("unexpected character");
  }

  bool word(std::string_view w) {
    if (in_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  Json object(int depth) {
    expect('{');
    Json out = Json::object();
    if (take('}')) return out;
    do {
      skip_space();
      if (pos_ >= in_.size() || in_[pos_] != '"') fail("expected a key");
      std::string key = string();
      expect(':');
      out.add(std::move(key), any(depth + 1));
    } while (take(','));
    expect('}');
    return out;
  }

  Json array(int depth) {
    expect('[');
    Json out = Json::array();
    if (take(']')) return out;
    do {
      out.push(any(depth + 1));
    } while (take(','));
    expect(']');
    return out;
  }

  Json number() {
    const size_t start = pos_;
    if (in_[pos_] == '-') ++pos_;
    const auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < in_.size() && std::isdigit(static_cast<unsigned char>(in_[pos_]))) ++pos_;
      if (pos_ == from) fail("malformed number");
    };
    digits();
    if (pos_ < in_.size() && in_[pos_] == '.') {
      ++pos_;
      digits();
    }
    if (pos_ < in_.size() && (in_[pos_] == 'e' || in_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < in_.size() && (in_[pos_] == '+' || in_[pos_] == '-')) ++pos_;
      digits();
    }
    return Json::number_text(std::string(in_.substr(start, pos_ - start)));
  }

  unsigned hex4() {
    if (pos_ + 4 > in_.size()) fail("short \\u escape");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = in_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (std::isxdigit(static_cast<unsigned char>(c))) {
        value |= static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
      } else {
        fail("bad \\u escape");
      }
    }
    return value;
  }

  static void put_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string string() {
    ++pos_;  // the opening quote
    std::string out;
    while (true) {
      if (pos_ >= in_.size()) fail("unterminated string");
      const char c = in_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= in_.size()) fail("unterminated string");
      const char e = in_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned cp = hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && word("\\u")) {
            const unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          put_utf8(out, cp);
          break;
        }
        default:
          fail("bad escape");
      }
    }
  }

  std::string_view in_;
  size_t pos_ = 0;
};

}  // namespace

Json Json::parse(std::string_view input) {
  return Reader(input).document();
}

}  // namespace naxctl
