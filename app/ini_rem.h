#pragma once

#include <span>
#include <string_view>

#include "app/layout.h"
#include "app/window_system.h"
#include "registry/registry_api.h"

namespace sorbantilex {

/// The home-page dialog: lifts the policy values that lock the browser's
/// start page and writes the start page the user typed. The task runner
/// shows it and waits, yielding, until it is hidden again.
///
/// Holds no control state of its own: the front end keeps the text of
/// `txtURL` and the dialog's visibility and calls the handlers below.
class IniRem {
 public:
  IniRem(WindowSystem& ui, RegistryApi& registry) : ui_(ui), registry_(registry) {}
  IniRem(const IniRem&) = delete;
  IniRem& operator=(const IniRem&) = delete;

  /// The dialog's layout: client size, title, icon and controls.
  static const WindowLayout& Layout();
  static std::span<const Control> Controls() { return Layout().controls; }

  /// "Aplicar": removes the locking policy values, sets "HomePage" to 0
  /// where the control-panel policy key exists, deletes its group-policy
  /// copy, writes the text of `txtURL` (or "about:blank" when it is empty)
  /// as the current user's start page, and hides the dialog. Registry
  /// statuses are not examined.
  void OnOkClick();
  /// "Cancelar": hides the dialog; nothing is written.
  void OnCancelClick();
  /// The dialog closed through its frame: it counts as hidden from now on;
  /// nothing is written.
  void OnClose();

 private:
  WindowSystem& ui_;
  RegistryApi& registry_;
};

/// The initial text of `txtURL`.
inline constexpr std::string_view kInitialStartPage =
    "http://www.microsoft.com/isapi/redir.dll?prd=ie&pver=6&ar=msnhome";

}  // namespace sorbantilex
