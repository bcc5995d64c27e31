#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace sorbantilex {

/// The tagged value that carries registry data between the repairs and
/// `Registro`: empty, a 16-bit integer, a 32-bit integer or a text.
class Variante {
 public:
  Variante() = default;
  Variante(std::int16_t value) : value_(value) {}            // NOLINT(google-explicit-constructor)
  Variante(std::int32_t value) : value_(value) {}            // NOLINT(google-explicit-constructor)
  Variante(std::string value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Variante(const char* value)
      : value_(std::string(value)) {}  // NOLINT(google-explicit-constructor)

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  bool IsInt32() const { return std::holds_alternative<std::int32_t>(value_); }
  bool IsInt16() const { return std::holds_alternative<std::int16_t>(value_); }

  /// Integers in decimal digits, empty as the empty text.
  std::string ToText() const;
  /// Integers kept, empty as 0, a text of decimal digits with an optional
  /// sign as its number. Raises `Failure` 13 for a text that is no number and
  /// 534 for a number outside the 32-bit signed range.
  std::int32_t ToInt32() const;

  friend bool operator==(const Variante&, const Variante&) = default;

 private:
  std::variant<std::monostate, std::int16_t, std::int32_t, std::string> value_;
};

}  // namespace sorbantilex
