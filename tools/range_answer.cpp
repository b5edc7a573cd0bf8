#include "tools/range_answer.h"

#include <cctype>
#include <optional>
#include <string_view>

namespace {

// Decimal digits at the front of `text`, consumed; nothing when there are
// none or the value does not fit in 64 bits.
std::optional<std::uint64_t> TakeNumber(std::string_view& text) {
  std::size_t length = 0;
  std::uint64_t value = 0;
  while (length < text.size() && text[length] >= '0' && text[length] <= '9') {
    std::uint64_t digit = static_cast<std::uint64_t>(text[length] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++length;
  }
  if (length == 0) return std::nullopt;
  text.remove_prefix(length);
  return value;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// "bytes <first>-<last>/<total or *>" names exactly [offset, end) of a file
// of `size` bytes.
bool RangeMatches(std::string_view text, std::uint64_t offset, std::uint64_t end,
                  std::uint64_t size) {
  constexpr std::string_view kUnit = "bytes ";
  if (text.size() < kUnit.size()) return false;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kUnit[i]) return false;
  }
  text.remove_prefix(kUnit.size());
  std::optional<std::uint64_t> first = TakeNumber(text);
  if (!first || *first != offset || !TakeChar(text, '-')) return false;
  std::optional<std::uint64_t> last = TakeNumber(text);
  if (!last || *last + 1 != end || !TakeChar(text, '/')) return false;
  if (text == "*") return true;
  std::optional<std::uint64_t> total = TakeNumber(text);
  return total && *total == size && text.empty();
}

}  // namespace

std::string RangeProblem(const RangeAnswer& answer, std::uint64_t first,
                         std::optional<std::uint64_t> last, std::uint64_t size) {
  const std::string asked = " to Range: bytes=" + std::to_string(first) + "-" +
                            (last ? std::to_string(*last) : std::string());
  const std::uint64_t end = last ? *last + 1 : size;
  if (answer.status == 200) return "200 (the whole file)" + asked;
  if (answer.status != 206) return std::to_string(answer.status) + asked;
  if (!RangeMatches(answer.content_range, first, end, size)) {
    return answer.content_range.empty()
               ? "206 without Content-Range" + asked
               : "206 with Content-Range \"" + answer.content_range + "\"" + asked;
  }
  if (!answer.read_failure.empty()) {
    return "206" + asked + ": the body broke off after " + std::to_string(answer.body_bytes) +
           " bytes: " + answer.read_failure;
  }
  if (answer.body_bytes != end - first) {
    return "206 with " + std::to_string(answer.body_bytes) + " bytes" + asked + ", expected " +
           std::to_string(end - first);
  }
  return {};
}
