#include "ui/qt/form_window.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFontInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace sorbantilex {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Where a system lacks a face, a few well-known places where a package of
// Windows-compatible fonts keeps it.
constexpr const char* kExtraFontFiles[] = {
    "/usr/share/wine/fonts/ms_sans_serif.ttf",
};

void LoadExtraFonts() {
  static const bool loaded = [] {
    for (const char* path : kExtraFontFiles) {
      if (QFile::exists(QString::fromUtf8(path))) {
        QFontDatabase::addApplicationFont(QString::fromUtf8(path));
      }
    }
    return true;
  }();
  (void)loaded;
}

QFont Sized(const QString& family, const Font& font) {
  QFont result(family);
  result.setPointSizeF(font.points);
  result.setWeight(font.weight >= kWeightBold ? QFont::Bold : QFont::Normal);
  result.setItalic(false);
  return result;
}

// Whether the font system draws `font` in its own face, near its size and in
// its weight. A face made of bitmaps comes in a few sizes and one weight
// only; at others it would be drawn small or thin.
bool DrawnAsAsked(const QFont& qfont, const Font& font) {
  const QFontInfo info(qfont);
  if (info.family().compare(qfont.family(), Qt::CaseInsensitive) != 0 ||
      std::abs(info.pointSizeF() - font.points) > 1.5) {
    return false;
  }
  if (font.weight < kWeightBold) return true;
  // The font system reports a bold it would only pretend to draw.
  const QStringList styles = QFontDatabase::styles(info.family());
  return std::any_of(styles.begin(), styles.end(), [&](const QString& style) {
    return QFontDatabase::weight(info.family(), style) >= QFont::Bold;
  });
}

// The windows' icons, drawn here: a shield for the main window, a globe for
// the home-page dialog.
QIcon WindowIcon(int icon_id) {
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    QPixmap image(size, size);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    if (icon_id == kIniRemIconId) {
      painter.setPen(QPen(QColor(20, 70, 140), 2));
      painter.setBrush(QColor(90, 160, 230));
      painter.drawEllipse(QRectF(3, 3, 26, 26));
      painter.drawLine(QPointF(3, 16), QPointF(29, 16));
      painter.drawEllipse(QRectF(10, 3, 12, 26));
    } else {
      QPainterPath shield;
      shield.moveTo(16, 2);
      shield.lineTo(28, 7);
      shield.cubicTo(28, 20, 22, 27, 16, 30);
      shield.cubicTo(10, 27, 4, 20, 4, 7);
      shield.closeSubpath();
      painter.setPen(QPen(QColor(120, 20, 20), 2));
      painter.setBrush(QColor(200, 40, 40));
      painter.drawPath(shield);
      painter.setPen(QPen(Qt::white, 3));
      painter.drawLine(QPointF(11, 16), QPointF(15, 21));
      painter.drawLine(QPointF(15, 21), QPointF(22, 11));
    }
    painter.end();
    icon.addPixmap(image);
  }
  return icon;
}

}  // namespace

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QFont QtFont(const Font& font) {
  LoadExtraFonts();
  const QString face = FromUtf8(font.face);
  if (QFontDatabase::hasFamily(face)) {
    QFont own = Sized(face, font);
    if (DrawnAsAsked(own, font)) return own;
  }
  return Sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family(), font);
}

FormWindow::FormWindow(const WindowLayout& layout, double dpi) : layout_(layout) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(FromUtf8(layout.title));
  setWindowIcon(WindowIcon(layout.icon_id));
  setFixedSize(TwipsToPixels(layout.client_width, dpi), TwipsToPixels(layout.client_height, dpi));
  setFont(QtFont(kDefaultFont));

  // Frames first, so that the controls placed in them find their parent.
  std::vector<const Control*> ordered;
  for (const Control& control : layout.controls) ordered.push_back(&control);
  std::stable_partition(ordered.begin(), ordered.end(),
                        [](const Control* c) { return c->kind == ControlKind::kFrame; });
  for (const Control* control : ordered) {
    QWidget* parent = this;
    if (!control->parent.empty()) {
      parent = Find(control->parent);
      if (parent == nullptr) parent = this;
    }
    controls_[{std::string(control->name), control->index}] = Create(*control, parent, dpi);
  }

  std::vector<const Control*> tab_order;
  for (const Control& control : layout.controls) {
    if (control.tab_index >= 0) tab_order.push_back(&control);
  }
  std::stable_sort(tab_order.begin(), tab_order.end(),
                   [](const Control* a, const Control* b) { return a->tab_index < b->tab_index; });
  QWidget* previous = nullptr;
  for (const Control* control : tab_order) {
    QWidget* widget = Find(control->name, control->index);
    if (previous != nullptr)
      QWidget::setTabOrder(previous, widget);
    else
      first_in_tab_order_ = widget;
    previous = widget;
  }
  if (first_in_tab_order_ != nullptr) first_in_tab_order_->setFocus(Qt::OtherFocusReason);
}

QWidget* FormWindow::Create(const Control& control, QWidget* parent, double dpi) {
  const QString caption = FromUtf8(control.caption);
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::kLabel: {
      auto* label = new QLabel(caption, parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setWordWrap(control.word_wrap);
      widget = label;
      break;
    }
    case ControlKind::kFrame: {
      auto* frame = new QGroupBox(caption, parent);
      frame->installEventFilter(this);
      frames_[frame] = std::string(control.name);
      widget = frame;
      break;
    }
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(caption, parent);
      box->setCheckState(control.initial_state == 1   ? Qt::Checked
                         : control.initial_state == 0 ? Qt::Unchecked
                                                      : Qt::PartiallyChecked);
      widget = box;
      break;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(caption, parent);
      button->setAutoDefault(false);
      const std::string name(control.name);
      QObject::connect(button, &QPushButton::clicked, this, [this, name] {
        if (events_.click) events_.click(name);
      });
      widget = button;
      break;
    }
    case ControlKind::kTextBox: {
      auto* text = new QLineEdit(caption, parent);
      text->setMaxLength(std::numeric_limits<int>::max());
      text->setCursorPosition(0);
      widget = text;
      break;
    }
  }
  widget->setObjectName(FromUtf8(control.name) +
                        (control.index >= 0 ? QString::number(control.index) : QString()));
  widget->setFont(QtFont(control.font));
  widget->setToolTip(FromUtf8(control.tooltip));
  widget->setEnabled(control.enabled);
  if (control.tab_index < 0) widget->setFocusPolicy(Qt::NoFocus);
  const TwipsRect& r = control.rect;
  widget->setGeometry(TwipsToPixels(r.left, dpi), TwipsToPixels(r.top, dpi),
                      TwipsToPixels(r.width, dpi), TwipsToPixels(r.height, dpi));
  return widget;
}

QWidget* FormWindow::Find(std::string_view name, int index) const {
  const auto it = controls_.find(Key{std::string(name), index});
  return it == controls_.end() ? nullptr : it->second;
}

QCheckBox* FormWindow::Box(CheckArray array, int index) const {
  return qobject_cast<QCheckBox*>(Find(ArrayName(array), index));
}

int FormWindow::UpperBound(CheckArray array) const {
  int upper = -1;
  while (Box(array, upper + 1) != nullptr) ++upper;
  return upper;
}

QLineEdit* FormWindow::TextBox(std::string_view name) const {
  return qobject_cast<QLineEdit*>(Find(name));
}

void FormWindow::ShowInFront() {
  const bool first = !shown_before_;
  shown_before_ = true;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (first && screen != nullptr) Centre(screen->availableGeometry());
  if (first && first_in_tab_order_ != nullptr) first_in_tab_order_->setFocus(Qt::OtherFocusReason);
  show();
  // Once shown, the window's frame is known where the window manager has
  // told it already: centre the frame, not only the client area.
  if (first && screen != nullptr && frameGeometry() != geometry()) {
    Centre(screen->availableGeometry());
  }
  raise();
  activateWindow();
}

void FormWindow::Centre(const QRect& area) {
  QRect outline = frameGeometry();
  outline.moveCenter(area.center());
  move(outline.topLeft());  // a window's position is its frame's
}

bool FormWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && events_.activate) events_.activate();
  return QWidget::event(event);
}

bool FormWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    const auto frame = frames_.find(watched);
    if (frame != frames_.end()) {
      if (events_.frame_double_click) events_.frame_double_click(frame->second);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FormWindow::closeEvent(QCloseEvent* event) {
  if (!events_.close || events_.close()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace sorbantilex
