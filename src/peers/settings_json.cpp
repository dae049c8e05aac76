#include "peers/settings_json.h"

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

bool isNumber(const Json& value) {
  return value.is_number() || value.is_binary();  // a binary value is always a number's lexeme here
}

std::string lexemeOf(const Json& number) {
  if (number.is_binary()) return std::string(number.get_binary().begin(), number.get_binary().end());
  return number.dump();
}

// A number's value as one spelling: "0", or [-]0.<digits>e<exponent> with no leading or trailing
// zero in <digits>. An exponent beyond 15 digits keeps its digits as written (after a sign), with
// the shift of the point added after it. Not a JSON number: the text itself, marked.
std::string canonicalNumber(std::string_view s) {
  if (!isJsonNumber(s)) return "?" + std::string(s);
  std::size_t i = 0;
  const bool negative = s[i] == '-';
  if (negative) ++i;
  std::string digits;
  long long point = 0;  // digits before the decimal point
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++point) digits += s[i];
  if (i < s.size() && s[i] == '.')
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) digits += s[i];
  bool exponentNegative = false;
  std::string_view exponent;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (s[i] == '+' || s[i] == '-') exponentNegative = s[i++] == '-';
    exponent = s.substr(i);
  }
  const auto lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) return "0";  // -0 too
  point -= static_cast<long long>(lead);
  digits = digits.substr(lead, digits.find_last_not_of('0') + 1 - lead);
  const auto significant = exponent.find_first_not_of('0');
  exponent = significant == std::string_view::npos ? std::string_view() : exponent.substr(significant);
  std::string canonical = (negative ? "-0." : "0.") + digits + "e";
  if (exponent.size() > 15) {
    canonical += exponentNegative ? "-" : "+";
    canonical += exponent;
    return canonical + (point >= 0 ? "+" : "") + std::to_string(point);
  }
  long long value = 0;
  for (char c : exponent) value = value * 10 + (c - '0');
  return canonical + std::to_string((exponentNegative ? -value : value) + point);
}

bool sameValueAt(const Json& a, const Json& b, int depth) {
  if (depth > 2 * kMaxDepth) return false;  // beyond anything parse() or an edit makes
  if (isNumber(a) || isNumber(b))
    return isNumber(a) && isNumber(b) && canonicalNumber(lexemeOf(a)) == canonicalNumber(lexemeOf(b));
  if (a.type() != b.type()) return false;
  if (a.is_object()) {
    if (a.size() != b.size()) return false;
    for (auto it = a.begin(); it != a.end(); ++it) {
      const auto other = b.find(it.key());
      if (other == b.end() || !sameValueAt(it.value(), *other, depth + 1)) return false;
    }
    return true;
  }
  if (a.is_array()) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (!sameValueAt(a[i], b[i], depth + 1)) return false;
    return true;
  }
  return a == b;
}

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

bool sameValue(const Json& a, const Json& b) {
  return sameValueAt(a, b, 0);
}

}  // namespace tovami::settings_json
