#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include <QFont>
#include <QWidget>

#include "app/layout.h"

class QCheckBox;
class QLineEdit;

namespace sorbantilex {

/// Twips to pixels at the given logical dpi (15 twips a pixel at 96 dpi).
int TwipsToPixels(int twips, double dpi);

/// The Qt font for a layout font: its own face where the system has it,
/// otherwise the desktop's sans-serif face, at the listed size and weight.
QFont QtFont(const Font& font);

/// What a window tells its owner. Every callback runs on the user-interface
/// thread and must not throw.
struct FormEvents {
  std::function<void(std::string_view button)> click;
  std::function<void(std::string_view frame)> frame_double_click;
  std::function<void()> activate;
  /// The user closes the window through its frame; false keeps it open.
  std::function<bool()> close;
};

/// A top-level window drawn from a layout table: labels, frames, check
/// boxes, buttons and text boxes at their twips positions, converted by the
/// screen's logical dpi, with their fonts, tooltips and tab order. The
/// client area has the layout's fixed size.
class FormWindow final : public QWidget {
 public:
  FormWindow(const WindowLayout& layout, double dpi);

  const WindowLayout& layout() const { return layout_; }
  void SetEvents(FormEvents events) { events_ = std::move(events); }

  /// A control by name and, for a box of a control array, index; null when
  /// the window has no such control.
  QWidget* Find(std::string_view name, int index = -1) const;
  QCheckBox* Box(CheckArray array, int index) const;
  /// Highest index of a check-box array; -1 when the window has none of it.
  int UpperBound(CheckArray array) const;
  QLineEdit* TextBox(std::string_view name) const;
  /// The control first in the tab order.
  QWidget* FirstInTabOrder() const { return first_in_tab_order_; }

  /// Shows the window, centred on its screen the first time, with the focus
  /// on the first control of the tab order, and brings it to the front.
  void ShowInFront();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  using Key = std::pair<std::string, int>;

  QWidget* Create(const Control& control, QWidget* parent, double dpi);
  void Centre(const QRect& area);

  const WindowLayout& layout_;
  FormEvents events_;
  std::map<Key, QWidget*, std::less<>> controls_;
  std::map<QObject*, std::string> frames_;  // frame widget -> its name
  QWidget* first_in_tab_order_ = nullptr;
  bool shown_before_ = false;
};

}  // namespace sorbantilex
