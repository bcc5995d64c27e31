#pragma once

#include "tasks/automation.h"

namespace sorbantilex {

/// Keeps the calling thread in a COM single-threaded apartment while it
/// lives (if the thread already belongs to an apartment, that one is used).
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool joined_ = false;
};

/// WMI of the running Windows, late-bound through IDispatch: CoGetObject on
/// the moniker, methods called by name (GetIDsOfNames, Invoke), collections
/// walked through _NewEnum and IEnumVARIANT. Every failed call raises
/// `Failure` with the HRESULT as a signed number and the system's message
/// for it (for an exception the object raised, its own description).
///
/// The objects it gives must be dropped before it is.
class Win32Wmi final : public Wmi {
 public:
  std::unique_ptr<AutomationObject> BindMoniker(std::string_view moniker) override;

 private:
  ComApartment apartment_;
};

}  // namespace sorbantilex
