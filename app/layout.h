#pragma once

#include <span>
#include <string_view>

namespace sorbantilex {

/// The two top-level windows of the program.
enum class WindowId { kMenu, kIniRem };

/// The check-box arrays of the main window, each indexed from 0. The
/// Windows program has the first three; `kModern`, the repairs for Windows
/// Vista to 11, is a fourth frame that only the offline front ends (the
/// command line and the desktop window) draw and run.
enum class CheckArray { kPolicies, kFixes, kInternet, kModern };

/// Whether only the offline front ends have the array.
constexpr bool OfflineOnly(CheckArray array) { return array == CheckArray::kModern; }

/// The array's control name: "checkPolicies", "checkFixes", "checkInternet",
/// "checkModern".
constexpr std::string_view ArrayName(CheckArray array) {
  switch (array) {
    case CheckArray::kPolicies:
      return "checkPolicies";
    case CheckArray::kFixes:
      return "checkFixes";
    case CheckArray::kInternet:
      return "checkInternet";
    case CheckArray::kModern:
      return "checkModern";
  }
  return {};
}

enum class ControlKind { kLabel, kFrame, kCheckBox, kButton, kTextBox };

/// A rectangle in twips (1/1440 inch; 15 twips are one pixel at 96 dpi),
/// relative to the parent frame or, without one, to the window's client area.
struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

inline constexpr int kWeightRegular = 400;
inline constexpr int kWeightBold = 700;

struct Font {
  std::string_view face;
  double points = 0;
  int weight = kWeightRegular;
};

/// The font of every control that has none of its own.
inline constexpr Font kDefaultFont{"MS Sans Serif", 8.25, kWeightRegular};

/// One control of a window, as the front ends draw it.
struct Control {
  /// The control's name; for a box of a control array, the array's name
  /// ("checkPolicies") with `index` telling the box.
  std::string_view name{};
  ControlKind kind = ControlKind::kLabel;
  /// The caption; for a text box, its initial text.
  std::string_view caption{};
  TwipsRect rect{};
  Font font = kDefaultFont;
  std::string_view tooltip{};
  /// Place in the tab order, 0 first; -1 for controls that take no focus.
  int tab_index = -1;
  /// Index within the control array; -1 for a control outside an array.
  int index = -1;
  /// The frame the control sits in; empty for the client area.
  std::string_view parent{};
  /// Check boxes: 0 unticked, 1 ticked.
  int initial_state = 0;
  bool enabled = true;
  /// Labels: wrap the caption at word boundaries within the width.
  bool word_wrap = false;
};

/// A window's own data. Both windows open centred on the screen, have no
/// resize handling and keep their controls where the table puts them.
struct WindowLayout {
  WindowId id = WindowId::kMenu;
  std::string_view name;
  int client_width = 0;   // twips
  int client_height = 0;  // twips
  /// The initial title; empty when the program sets it at start-up.
  std::string_view title;
  /// Resource id of the window's icon.
  int icon_id = 0;
  std::span<const Control> controls;
};

inline constexpr int kMenuIconId = 101;
inline constexpr int kIniRemIconId = 102;

}  // namespace sorbantilex
