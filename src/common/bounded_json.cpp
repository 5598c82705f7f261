#include "common/bounded_json.h"

namespace dravnok {
namespace {

using nlohmann::json;

// Walks the text with the library's own scanner, building nothing, and stops
// at the first container that goes past the depth limit.
class DepthCheck : public nlohmann::json_sax<json> {
public:
  explicit DepthCheck(int maxDepth) : maxDepth_(maxDepth) {}

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return enter(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return leave(); }
  bool start_array(std::size_t) override { return enter(); }
  bool end_array() override { return leave(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

  bool tooDeep() const { return tooDeep_; }

private:
  bool enter() {
    if (++depth_ <= maxDepth_) return true;
    tooDeep_ = true;
    return false;
  }
  bool leave() {
    --depth_;
    return true;
  }

  int maxDepth_;
  int depth_ = 0;
  bool tooDeep_ = false;
};

} // namespace

std::optional<json> parseBoundedJson(std::string_view text, size_t maxBytes, int maxDepth, std::string* refusal) {
  if (refusal) refusal->clear();
  if (text.size() > maxBytes) {
    if (refusal) *refusal = std::to_string(text.size()) + " bytes, more than " + std::to_string(maxBytes);
    return std::nullopt;
  }
  DepthCheck check(maxDepth);
  if (!json::sax_parse(text, &check, json::input_format_t::json, /*strict=*/true, /*ignore_comments=*/false)) {
    if (check.tooDeep() && refusal) *refusal = "nested more than " + std::to_string(maxDepth) + " levels deep";
    return std::nullopt;
  }
  json value = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

} // namespace dravnok
