#include "integrations/settings_json.h"

#include <vector>

namespace tovami::settings_json {
namespace {

// The numbers of a JSON text in document order, as spelled: every run of number characters
// outside strings. On a text that is not valid JSON the parse fails whatever this finds.
std::vector<std::string_view> numberLexemes(std::string_view text) {
  std::vector<std::string_view> numbers;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i)
        if (text[i] == '\\') ++i;
      ++i;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const std::size_t start = i;
      while (i < text.size() && (text[i] == '-' || text[i] == '+' || text[i] == '.' || text[i] == 'e' ||
                                 text[i] == 'E' || (text[i] >= '0' && text[i] <= '9')))
        ++i;
      numbers.push_back(text.substr(start, i - start));
    } else {
      ++i;
    }
  }
  return numbers;
}

// JSON's number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?. Any magnitude is JSON
// (1e400 too), though it is beyond a double.
bool isJsonNumber(std::string_view s) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i > start;
  };
  if (i < s.size() && s[i] == '-') ++i;
  if (i < s.size() && s[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < s.size() && s[i] == '.' && (++i, !digits())) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == s.size();
}

// The text the parser checks: each well-formed number becomes "0", so that one out of a double's
// range is not refused (its lexeme carries its value). A malformed one stays and fails the parse.
std::string shapeOf(std::string_view text, const std::vector<std::string_view>& numbers) {
  std::string shape;
  shape.reserve(text.size());
  std::size_t copied = 0;
  for (const auto number : numbers) {
    const auto at = static_cast<std::size_t>(number.data() - text.data());
    shape.append(text, copied, at - copied);
    shape += isJsonNumber(number) ? std::string_view("0") : number;
    copied = at + number.size();
  }
  shape.append(text, copied);
  return shape;
}

Json lexemeValue(std::string_view lexeme) {
  return Json::binary(Json::binary_t::container_type(lexeme.begin(), lexeme.end()));
}

// Builds the document; numbers become their lexemes. Stops at the depth bound (the parser itself
// keeps its own stack on the heap).
class Builder {
 public:
  explicit Builder(std::vector<std::string_view> numbers) : numbers_(std::move(numbers)) {}

  Json root;
  bool tooDeep = false;

  bool null() { return put(nullptr); }
  bool boolean(bool value) { return put(value); }
  bool number_integer(Json::number_integer_t) { return putNumber(); }
  bool number_unsigned(Json::number_unsigned_t) { return putNumber(); }
  bool number_float(Json::number_float_t, const std::string&) { return putNumber(); }
  bool string(std::string& value) { return put(std::move(value)); }
  bool binary(Json::binary_t&) { return false; }
  bool start_object(std::size_t) { return open(Json::object()); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(std::string& name) {
    key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  Json* put(Json value) {
    if (open_.empty()) {
      root = std::move(value);
      return &root;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    Json& slot = parent[key_];  // a repeated key: the last value wins, as in JavaScript
    slot = std::move(value);
    return &slot;
  }
  bool putNumber() {
    if (next_ >= numbers_.size()) return false;
    return put(lexemeValue(numbers_[next_++])) != nullptr;
  }
  bool open(Json container) {
    if (static_cast<int>(open_.size()) >= kMaxDepth) {
      tooDeep = true;
      return false;
    }
    open_.push_back(put(std::move(container)));
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  std::vector<std::string_view> numbers_;
  std::size_t next_ = 0;
  std::vector<Json*> open_;  // each open container is the last one its parent received
  std::string key_;
};

class Writer {
 public:
  std::string out;

  bool write(const Json& value, int depth) {
    if (depth > kMaxDepth) return false;
    switch (value.type()) {
      case Json::value_t::object:
        return container(value, depth, '{', '}');
      case Json::value_t::array:
        return container(value, depth, '[', ']');
      case Json::value_t::binary:
        out.append(value.get_binary().begin(), value.get_binary().end());
        break;
      default:
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    return out.size() <= kMaxWrittenBytes;
  }

 private:
  bool container(const Json& value, int depth, char open, char close) {
    if (value.empty()) {
      out += open;
      out += close;
      return true;
    }
    out += open;
    bool first = true;
    const std::string indent(static_cast<std::size_t>(depth + 1) * 2, ' ');
    auto item = [&] {
      out += first ? "\n" : ",\n";
      first = false;
      out += indent;
    };
    if (value.is_object()) {
      for (const auto& [name, element] : value.items()) {
        item();
        out += Json(name).dump(-1, ' ', false, Json::error_handler_t::replace);
        out += ": ";
        if (!write(element, depth + 1)) return false;
      }
    } else {
      for (const auto& element : value) {
        item();
        if (!write(element, depth + 1)) return false;
      }
    }
    out += '\n';
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
    out += close;
    return out.size() <= kMaxWrittenBytes;
  }
};

}  // namespace

std::optional<Json> parse(std::string_view text, std::string& error) {
  if (text.size() > kMaxBytes) {
    error = "it is larger than " + std::to_string(kMaxBytes >> 20) + " MiB";
    return std::nullopt;
  }
  auto numbers = numberLexemes(text);
  const std::string shape = shapeOf(text, numbers);
  Builder builder(std::move(numbers));
  if (!Json::sax_parse(shape, &builder)) {
    error = builder.tooDeep ? "it is nested deeper than " + std::to_string(kMaxDepth) + " levels"
                            : "it is not valid JSON";
    return std::nullopt;
  }
  return std::move(builder.root);
}

std::optional<std::string> dump(const Json& document, std::string& error) {
  Writer writer;
  if (!writer.write(document, 0)) {
    error = "the result would be too large or too deep to write";
    return std::nullopt;
  }
  writer.out += '\n';
  return std::move(writer.out);
}

}  // namespace tovami::settings_json
