#include "registry/variante.h"

#include <limits>

#include "registry/failure.h"

namespace sorbantilex {

std::string Variante::ToText() const {
  if (const auto* text = std::get_if<std::string>(&value_)) return *text;
  if (const auto* n = std::get_if<std::int32_t>(&value_)) return std::to_string(*n);
  if (const auto* n = std::get_if<std::int16_t>(&value_)) return std::to_string(*n);
  return {};
}

std::int32_t Variante::ToInt32() const {
  if (const auto* n = std::get_if<std::int32_t>(&value_)) return *n;
  if (const auto* n = std::get_if<std::int16_t>(&value_)) return *n;
  const auto* text = std::get_if<std::string>(&value_);
  if (text == nullptr) return 0;

  std::string_view digits = *text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  const auto not_a_number = [&] {
    return Failure(kFailureNotANumber, "El texto \"" + *text + "\" no es un número.");
  };
  if (digits.empty()) throw not_a_number();
  for (char c : digits) {
    if (c < '0' || c > '9') throw not_a_number();
  }
  // Accumulate in 64 bits; any text longer than 11 digits is out of range.
  std::int64_t magnitude = 0;
  for (char c : digits) {
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) break;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw Failure(kFailureOutOfRange,
                  "El número " + *text + " está fuera del intervalo de un entero de 32 bits.");
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace sorbantilex
