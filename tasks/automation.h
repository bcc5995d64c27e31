#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sorbantilex {

/// An argument of a late-bound method call: a text, a 32-bit number or an
/// array of numbers.
using AutomationArg = std::variant<std::string, std::int32_t, std::vector<std::int32_t>>;

class AutomationEnumerator;

/// The number of the `Failure` a repair raises when an automation call that
/// should have given an object gave none (E_POINTER).
inline constexpr std::int32_t kSinObjeto = static_cast<std::int32_t>(0x80004003u);

/// A late-bound automation object (a WMI services object, a collection, an
/// instance). Released when its owner drops it. Every failure is raised as
/// `Failure` (the HRESULT as a signed number and the system's message).
class AutomationObject {
 public:
  AutomationObject() = default;
  virtual ~AutomationObject() = default;
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  /// Calls a method by name. Gives the object the method returned, or null
  /// when it returned something else (a status number, which the program
  /// never reads).
  virtual std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                                   std::span<const AutomationArg> args) = 0;
  /// Starts enumerating this collection.
  virtual std::unique_ptr<AutomationEnumerator> NewEnum() = 0;
};

/// Walks a collection, one element at a time.
class AutomationEnumerator {
 public:
  AutomationEnumerator() = default;
  virtual ~AutomationEnumerator() = default;
  AutomationEnumerator(const AutomationEnumerator&) = delete;
  AutomationEnumerator& operator=(const AutomationEnumerator&) = delete;

  /// The next element, or null after the last.
  virtual std::unique_ptr<AutomationObject> Next() = 0;
};

/// WMI through its scripting monikers.
class Wmi {
 public:
  Wmi() = default;
  virtual ~Wmi() = default;
  Wmi(const Wmi&) = delete;
  Wmi& operator=(const Wmi&) = delete;

  /// Binds a moniker text ("winmgmts:..."), giving the object it names.
  /// Raises `Failure` when WMI is not available.
  virtual std::unique_ptr<AutomationObject> BindMoniker(std::string_view moniker) = 0;
};

}  // namespace sorbantilex
