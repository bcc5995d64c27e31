#include "ui/win32/win32_window_system.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/ini_rem.h"
#include "app/menu.h"
#include "platform/win32/dynamic_function.h"
#include "platform/win32/text.h"
#include "registry/failure.h"

namespace sorbantilex {
namespace {

constexpr wchar_t kMenuClass[] = L"SorbantilexMenu";
constexpr wchar_t kDialogClass[] = L"SorbantilexIniRem";
constexpr wchar_t kApplicationTitle[] = L"Sorbantilex";
// One instance per logon session.
constexpr wchar_t kInstanceMutex[] = L"Local\\Sorbantilex.Instancia";
constexpr DWORD kMenuStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kDialogStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME;
constexpr int kFirstControlId = 1000;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// The original window procedure of the button class, which frames are.
WNDPROC g_button_proc = nullptr;

UINT WindowDpi(HWND hwnd) {
  static const auto get_dpi_for_window =
      win32::LoadSystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (get_dpi_for_window != nullptr) {
    if (const UINT dpi = get_dpi_for_window(hwnd); dpi != 0) return dpi;
  }
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void AdjustForDpi(RECT* rect, DWORD style, DWORD ex_style, UINT dpi) {
  static const auto adjust_for_dpi = win32::LoadSystemFunction<AdjustWindowRectExForDpiFunction>(
      L"user32.dll", "AdjustWindowRectExForDpi");
  if (adjust_for_dpi == nullptr || !adjust_for_dpi(rect, style, FALSE, ex_style, dpi)) {
    ::AdjustWindowRectEx(rect, style, FALSE, ex_style);
  }
}

int ExitCode(EndReason reason) {
  switch (reason) {
    case EndReason::kFinished:
      return 0;
    case EndReason::kClosed:
      return 0;
    case EndReason::kFailed:
      return 1;
    case EndReason::kRefused:
      return 2;
  }
  return 1;
}

}  // namespace

Win32WindowSystem::Win32WindowSystem(HINSTANCE instance) : instance_(instance) {
  menu_window_.owner = this;
  dialog_window_.owner = this;
}

Win32WindowSystem::~Win32WindowSystem() {
  for (Window* window : {&dialog_window_, &menu_window_}) {
    if (window->hwnd != nullptr && ::IsWindow(window->hwnd)) ::DestroyWindow(window->hwnd);
    FreeFonts(*window);
    if (window->big_icon != nullptr) ::DestroyIcon(window->big_icon);
    if (window->small_icon != nullptr) ::DestroyIcon(window->small_icon);
  }
}

void Win32WindowSystem::Run(Menu& menu) {
  menu_ = &menu;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  for (const wchar_t* name : {kMenuClass, kDialogClass}) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance_;
    window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = name;
    ::RegisterClassExW(&window_class);
  }
  CreateWindowFor(menu_window_, Menu::Layout());
  CreateWindowFor(dialog_window_, IniRem::Layout());

  Guarded([&] { menu.OnLoad(); });
  ::ShowWindow(menu_window_.hwnd, SW_SHOW);
  ::SetForegroundWindow(menu_window_.hwnd);
  FocusFirstControl(menu_window_);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(menu_window_.hwnd, &message) ||
        ::IsDialogMessageW(dialog_window_.hwnd, &message)) {
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  EndProgram(EndReason::kClosed);
#ifndef _MSC_VER
  std::abort();  // not reached; GCC does not take a virtual [[noreturn]] at its word
#endif
}

void Win32WindowSystem::CreateWindowFor(Window& window, const WindowLayout& layout) {
  window.layout = &layout;
  const bool is_menu = &window == &menu_window_;
  window.hwnd = ::CreateWindowExW(is_menu ? 0 : kDialogExStyle, is_menu ? kMenuClass : kDialogClass,
                                  win32::Wide(layout.title).c_str(),
                                  is_menu ? kMenuStyle : kDialogStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  100, 100, nullptr, nullptr, instance_, &window);
  window.dpi = WindowDpi(window.hwnd);

  if (layout.icon_id != 0) {
    window.big_icon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(layout.icon_id),
                                                      IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                      ::GetSystemMetrics(SM_CYICON), 0));
    window.small_icon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(layout.icon_id),
                                                        IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                        ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageW(window.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(window.big_icon));
    ::SendMessageW(window.hwnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(window.small_icon));
  }
  window.tooltip =
      ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window.hwnd, nullptr, instance_, nullptr);

  // Creation order is the tab order: controls that take the focus first, by
  // their place in it, then the rest in table order.
  std::vector<std::size_t> order(layout.controls.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int ta = layout.controls[a].tab_index;
    const int tb = layout.controls[b].tab_index;
    if ((ta < 0) != (tb < 0)) return ta >= 0;
    return ta >= 0 && ta < tb;
  });
  window.controls.resize(layout.controls.size());
  for (const std::size_t i : order) {
    const Control& control = layout.controls[i];
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD ex_style = 0;
    switch (control.kind) {
      case ControlKind::kLabel:
        style |= SS_NOPREFIX | (control.word_wrap ? SS_LEFT : SS_LEFTNOWORDWRAP);
        break;
      case ControlKind::kFrame:
        window_class = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
      case ControlKind::kCheckBox:
        window_class = L"BUTTON";
        style |= BS_AUTOCHECKBOX;
        break;
      case ControlKind::kButton:
        window_class = L"BUTTON";
        style |= control.tab_index == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
      case ControlKind::kTextBox:
        window_class = L"EDIT";
        style |= ES_AUTOHSCROLL | ES_LEFT;
        ex_style |= WS_EX_CLIENTEDGE;
        break;
    }
    if (control.tab_index >= 0) style |= WS_TABSTOP;
    if (!control.enabled) style |= WS_DISABLED;
    const HWND hwnd = ::CreateWindowExW(
        ex_style, window_class, win32::Wide(control.caption).c_str(), style, 0, 0, 10, 10,
        window.hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance_,
        nullptr);
    window.controls[i] = ControlWindowInfo{&control, hwnd};
    if (control.kind == ControlKind::kCheckBox && control.initial_state == 1) {
      ::SendMessageW(hwnd, BM_SETCHECK, BST_CHECKED, 0);
    }
    if (control.kind == ControlKind::kTextBox) ::SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);
    if (control.kind == ControlKind::kFrame) {
      g_button_proc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
          hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32WindowSystem::FrameProc)));
    }
    if (!control.tooltip.empty()) {
      window.tooltip_texts.push_back(win32::Wide(control.tooltip));
      TOOLINFOW tool{};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = window.hwnd;
      tool.uId = reinterpret_cast<UINT_PTR>(hwnd);
      tool.lpszText = window.tooltip_texts.back().data();
      ::SendMessageW(window.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
  // Frames lie beneath the controls they hold, so that those take their own
  // clicks and the frame takes the clicks between them.
  for (const auto& info : window.controls) {
    if (info.control->kind == ControlKind::kFrame) {
      ::SetWindowPos(info.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  LayOut(window, nullptr);
}

int Win32WindowSystem::Pixels(const Window& window, int twips) const {
  return ::MulDiv(twips, static_cast<int>(window.dpi), 1440);
}

HFONT Win32WindowSystem::FontFor(Window& window, const Font& font) {
  const int height = -static_cast<int>(std::lround(font.points * window.dpi / 72.0));
  HFONT& cached = window.fonts[{height, font.weight}];
  if (cached == nullptr) {
    cached = ::CreateFontW(height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, win32::Wide(font.face).c_str());
  }
  return cached;
}

void Win32WindowSystem::FreeFonts(Window& window) {
  for (auto& [key, font] : window.fonts) ::DeleteObject(font);
  window.fonts.clear();
}

void Win32WindowSystem::LayOut(Window& window, const RECT* suggested) {
  const WindowLayout& layout = *window.layout;
  const bool is_menu = &window == &menu_window_;
  RECT frame{0, 0, Pixels(window, layout.client_width), Pixels(window, layout.client_height)};
  AdjustForDpi(&frame, is_menu ? kMenuStyle : kDialogStyle, is_menu ? 0 : kDialogExStyle,
               window.dpi);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  int x = 0;
  int y = 0;
  if (suggested != nullptr) {
    x = suggested->left;
    y = suggested->top;
  } else {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(window.hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcMonitor;  // the whole screen, taskbar included
    x = area.left + (area.right - area.left - width) / 2;
    y = area.top + (area.bottom - area.top - height) / 2;
  }
  ::SetWindowPos(window.hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  // Where the frame came out other than computed (a dpi the system has not
  // applied to the frame yet, a theme), the client area still gets its size.
  RECT client;
  ::GetClientRect(window.hwnd, &client);
  const int extra_width = Pixels(window, layout.client_width) - client.right;
  const int extra_height = Pixels(window, layout.client_height) - client.bottom;
  if (extra_width != 0 || extra_height != 0) {
    ::SetWindowPos(window.hwnd, nullptr, 0, 0, width + extra_width, height + extra_height,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  }

  std::map<std::pair<int, int>, HFONT> old_fonts;
  old_fonts.swap(window.fonts);
  for (const auto& info : window.controls) {
    const Control& control = *info.control;
    TwipsRect rect = control.rect;
    if (!control.parent.empty()) {
      for (const auto& other : window.controls) {
        if (other.control->name == control.parent && other.control->index < 0) {
          rect.left += other.control->rect.left;
          rect.top += other.control->rect.top;
        }
      }
    }
    const int left = Pixels(window, rect.left);
    const int top = Pixels(window, rect.top);
    ::MoveWindow(info.hwnd, left, top, Pixels(window, rect.left + rect.width) - left,
                 Pixels(window, rect.top + rect.height) - top, FALSE);
    ::SendMessageW(info.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(window, control.font)),
                   FALSE);
  }
  for (auto& [key, font] : old_fonts) ::DeleteObject(font);
  ::InvalidateRect(window.hwnd, nullptr, TRUE);
}

void Win32WindowSystem::FocusFirstControl(Window& window) {
  const ControlWindowInfo* first = nullptr;
  for (const auto& info : window.controls) {
    if (info.control->tab_index >= 0 &&
        (first == nullptr || info.control->tab_index < first->control->tab_index)) {
      first = &info;
    }
  }
  if (first != nullptr) ::SetFocus(first->hwnd);
}

LRESULT CALLBACK Win32WindowSystem::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* window = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    window->hwnd = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr || window->owner == nullptr) {
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return window->owner->Dispatch(*window, message, wparam, lparam);
}

LRESULT CALLBACK Win32WindowSystem::FrameProc(HWND hwnd, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  switch (message) {
    case WM_NCHITTEST:
      return HTCLIENT;  // a group box lets clicks through; frames take them
    case WM_LBUTTONDBLCLK: {
      auto* window =
          reinterpret_cast<Window*>(::GetWindowLongPtrW(::GetParent(hwnd), GWLP_USERDATA));
      if (window != nullptr && window->owner != nullptr) window->owner->OnFrameDoubleClick(hwnd);
      return 0;
    }
    default:
      return ::CallWindowProcW(g_button_proc, hwnd, message, wparam, lparam);
  }
}

LRESULT Win32WindowSystem::Dispatch(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
  const bool is_menu = &window == &menu_window_;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) OnCommand(window, LOWORD(wparam));
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(window.hwnd, focus)) window.focus = focus;
        return 0;
      }
      if (window.focus != nullptr && ::IsWindow(window.focus)) {
        ::SetFocus(window.focus);
      } else {
        FocusFirstControl(window);
      }
      if (is_menu && menu_ != nullptr) Guarded([&] { menu_->OnActivate(); });
      return 0;
    case WM_CLOSE:
      if (is_menu) {
        if (menu_ != nullptr) Guarded([&] { menu_->OnUnload(); });
        EndProgram(EndReason::kClosed);
      }
      ::ShowWindow(window.hwnd, SW_HIDE);
      if (menu_ != nullptr) Guarded([&] { menu_->iniRem().OnClose(); });
      return 0;
    case WM_ENDSESSION:
      if (wparam != FALSE) OnEndSession();
      return 0;
    case kDpiChanged:
      window.dpi = HIWORD(wparam);
      LayOut(window, reinterpret_cast<const RECT*>(lparam));
      return 0;
    default:
      return ::DefWindowProcW(window.hwnd, message, wparam, lparam);
  }
}

void Win32WindowSystem::OnCommand(Window& window, int id) {
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(window.controls.size()) || menu_ == nullptr) return;
  const Control& control = *window.controls[static_cast<std::size_t>(index)].control;
  if (control.kind != ControlKind::kButton) return;
  if (&window == &menu_window_) {
    Guarded([&] { menu_->OnUnlockClick(); });
  } else if (control.name == "cmdOk") {
    Guarded([&] { menu_->iniRem().OnOkClick(); });
  } else if (control.name == "cmdCancel") {
    Guarded([&] { menu_->iniRem().OnCancelClick(); });
  }
}

void Win32WindowSystem::OnFrameDoubleClick(HWND frame) {
  for (const auto& info : menu_window_.controls) {
    if (info.hwnd != frame) continue;
    if (const auto array = Menu::ArrayOfFrame(info.control->name); array && menu_ != nullptr) {
      Guarded([&] { menu_->OnFrameDoubleClick(*array); });
    }
  }
}

template <class Handler>
void Win32WindowSystem::Guarded(Handler handler) {
  // The runner catches the program's failures itself; what arrives here is
  // unforeseen, and the program cannot know its state any more.
  std::string text;
  try {
    handler();
    return;
  } catch (const Failure& failure) {
    text = std::to_string(failure.number()) + " " + failure.description();
  } catch (const std::exception& error) {
    text = error.what();
  } catch (...) {
    text = "Error inesperado.";
  }
  ShowMessage(text, "Error");
  EndProgram(EndReason::kFailed);
}

void Win32WindowSystem::ShowMessage(std::string_view text, std::string_view title) {
  const std::wstring caption = title.empty() ? kApplicationTitle : win32::Wide(title);
  ::MessageBoxW(nullptr, win32::Wide(text).c_str(), caption.c_str(),
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

void Win32WindowSystem::YieldToMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) EndProgram(EndReason::kClosed);
    if ((menu_window_.hwnd != nullptr && ::IsDialogMessageW(menu_window_.hwnd, &message)) ||
        (dialog_window_.hwnd != nullptr && ::IsDialogMessageW(dialog_window_.hwnd, &message))) {
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void Win32WindowSystem::EndProgram(EndReason reason) {
  for (Window* window : {&dialog_window_, &menu_window_}) {
    if (window->hwnd != nullptr && ::IsWindow(window->hwnd)) {
      ::SetWindowLongPtrW(window->hwnd, GWLP_USERDATA, 0);  // no more handlers
      ::DestroyWindow(window->hwnd);
    }
    window->hwnd = nullptr;
  }
  Exit(ExitCode(reason));
#ifndef _MSC_VER
  std::abort();  // not reached; GCC does not take a virtual [[noreturn]] at its word
#endif
}

void Win32WindowSystem::Exit(int exit_code) {
  ::ExitProcess(static_cast<UINT>(exit_code));
#ifndef _MSC_VER
  std::abort();  // not reached; GCC does not take a virtual [[noreturn]] at its word
#endif
}

bool Win32WindowSystem::PreviousInstance() {
  if (!instance_checked_) {
    instance_checked_ = true;
    instance_mutex_.reset(::CreateMutexW(nullptr, FALSE, kInstanceMutex));
    previous_instance_ = ::GetLastError() == ERROR_ALREADY_EXISTS;
  }
  return previous_instance_;
}

void Win32WindowSystem::ShowWindow(WindowId id) {
  Window& window = WindowOf(id);
  ::ShowWindow(window.hwnd, SW_SHOW);
  ::BringWindowToTop(window.hwnd);
  ::SetForegroundWindow(window.hwnd);
}

void Win32WindowSystem::HideWindow(WindowId id) { ::ShowWindow(WindowOf(id).hwnd, SW_HIDE); }

bool Win32WindowSystem::Visible(WindowId id) {
  const HWND hwnd = WindowOf(id).hwnd;
  return hwnd != nullptr && ::IsWindowVisible(hwnd);
}

WindowHandle Win32WindowSystem::Handle(WindowId id) {
  return reinterpret_cast<WindowHandle>(WindowOf(id).hwnd);
}

void Win32WindowSystem::SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y,
                                     int width, int height, std::uint32_t flags) {
  ::SetWindowPos(reinterpret_cast<HWND>(window), reinterpret_cast<HWND>(insert_after), x, y, width,
                 height, flags);
}

void Win32WindowSystem::SetTitle(WindowId id, std::string_view title) {
  ::SetWindowTextW(WindowOf(id).hwnd, win32::Wide(title).c_str());
}

HWND Win32WindowSystem::Box(CheckArray array, int index) const {
  return ControlWindow(WindowId::kMenu, ArrayName(array), index);
}

int Win32WindowSystem::CheckState(CheckArray array, int index) {
  const HWND box = Box(array, index);
  return box != nullptr && ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void Win32WindowSystem::SetCheckState(CheckArray array, int index, int state) {
  if (const HWND box = Box(array, index)) {
    ::SendMessageW(box, BM_SETCHECK, state == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void Win32WindowSystem::SetCheckEnabled(CheckArray array, int index, bool enabled) {
  if (const HWND box = Box(array, index)) ::EnableWindow(box, enabled ? TRUE : FALSE);
}

int Win32WindowSystem::UpperBound(CheckArray array) {
  int upper = -1;
  for (const Control& control : Menu::Controls()) {
    if (control.name == ArrayName(array)) upper = std::max(upper, control.index);
  }
  return upper;
}

std::string Win32WindowSystem::TextBoxText(WindowId id, std::string_view name) {
  const HWND box = ControlWindow(id, name);
  if (box == nullptr) return {};
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
  return win32::Utf8(text);
}

HWND Win32WindowSystem::ControlWindow(WindowId id, std::string_view name, int index) const {
  for (const auto& info : WindowOf(id).controls) {
    if (info.control->name == name && info.control->index == index) return info.hwnd;
  }
  return nullptr;
}

HWND Win32WindowSystem::NativeWindow(WindowId id) const { return WindowOf(id).hwnd; }

}  // namespace sorbantilex
