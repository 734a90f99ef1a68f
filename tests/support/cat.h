// Cat("h", 3, ".test") gives "h3.test": texts and whole numbers joined by appending. Tests
// build their names with it because GCC 12 at -O3 takes "literal" + std::string (an insert at
// the front) and assigning a literal for overlapping copies and warns, falsely (-Wrestrict).
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace cat_detail {
inline void Append(std::string& out, std::string_view text) { out.append(text); }
template <typename Number, typename = std::enable_if_t<std::is_integral_v<Number>>>
void Append(std::string& out, Number value) {
  out.append(std::to_string(value));
}
}  // namespace cat_detail

template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string out;
  (cat_detail::Append(out, parts), ...);
  return out;
}
