#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace sorbantilex {

/// The program's one failure type: a signed 32-bit number and a Spanish
/// description. Raised at the platform boundary (WMI, files) and by value
/// conversions; caught in the core in exactly one place, the task runner,
/// which shows both to the user and ends the program. Where it stands among
/// the registry's statuses and the offline platform's errors, and how those
/// reach the front ends: platform/offline/error.h.
///
/// Numbers are ones a user or a support forum can act on: the Windows error
/// code or the HRESULT where the platform gives one. Conversions use:
///   13  (ERROR_INVALID_DATA)        a text that is no number;
///   534 (ERROR_ARITHMETIC_OVERFLOW) a number outside the 32-bit signed range.
class Failure : public std::exception {
 public:
  Failure(std::int32_t number, std::string description)
      : number_(number), description_(std::move(description)) {}

  std::int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t number_;
  std::string description_;
};

inline constexpr std::int32_t kFailureNotANumber = 13;
inline constexpr std::int32_t kFailureOutOfRange = 534;

}  // namespace sorbantilex
