// The native windows as the program runs them, driven from a second thread:
// layout, fonts, tooltips, focus, frame double-click, a run with the
// home-page dialog, the final message, the registry afterwards. The windows
// run on a thread of their own, which ends where the program would exit.
// Screenshots of both windows go to screenshots\ beside this executable.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/ini_rem.h"
#include "app/menu.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_system_info.h"
#include "platform/win32/win32_token.h"
#include "platform/win32/win32_wmi.h"
#include "png.h"
#include "registry/registro.h"
#include "tasks/funciones.h"
#include "ui/win32/win32_window_system.h"

namespace sorbantilex {
namespace {

using win32::Utf8;
using win32::Wide;

/// A message box as the user saw it.
struct SeenBox {
  std::string title;
  std::string text;
  int buttons = 0;
  bool icon = false;
};

/// The program's window system, with two changes for the test: each message
/// box is read and closed by a timer on the windows' own thread, and the end
/// of the program ends that thread.
class TestWindowSystem final : public Win32WindowSystem {
 public:
  using Win32WindowSystem::Win32WindowSystem;

  void ShowMessage(std::string_view text, std::string_view title) override {
    current_ = this;
    ::SetTimer(nullptr, 0, 50, &TestWindowSystem::CloseBox);
    Win32WindowSystem::ShowMessage(text, title);
  }

  std::vector<SeenBox> boxes;
  std::atomic<int> exit_code{-1};

 protected:
  [[noreturn]] void Exit(int code) override {
    exit_code = code;
    ::ExitThread(static_cast<DWORD>(code));
  }

 private:
  static BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
    wchar_t name[16] = {};
    ::GetClassNameW(hwnd, name, 16);
    if (std::wstring(name) == L"#32770" && ::IsWindowVisible(hwnd)) {
      *reinterpret_cast<HWND*>(found) = hwnd;
      return FALSE;
    }
    return TRUE;
  }
  static BOOL CALLBACK CountButton(HWND hwnd, LPARAM count) {
    wchar_t name[16] = {};
    ::GetClassNameW(hwnd, name, 16);
    if (_wcsicmp(name, L"Button") == 0) ++*reinterpret_cast<int*>(count);
    return TRUE;
  }
  static void CALLBACK CloseBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) return;  // not up yet
    ::KillTimer(nullptr, timer);
    SeenBox seen;
    wchar_t text[1024] = {};
    ::GetWindowTextW(box, text, 1024);
    seen.title = Utf8(text);
    ::GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the message text
    seen.text = Utf8(text);
    ::EnumChildWindows(box, &CountButton, reinterpret_cast<LPARAM>(&seen.buttons));
    seen.icon = ::GetDlgItem(box, 20) != nullptr;  // the icon control of a message box
    current_->boxes.push_back(seen);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
  }

  static inline TestWindowSystem* current_ = nullptr;
};

/// The whole program, its windows on a thread of their own.
class Program {
 public:
  Program()
      : ui_(::GetModuleHandleW(nullptr)),
        funciones_(TaskPlatform{registry_, system_, files_, wmi_, ui_}),
        menu_(MenuPlatform{ui_, funciones_, token_, system_, registry_}) {}

  void Start() {
    thread_ = ::CreateThread(nullptr, 0, &Program::WindowsThread, this, 0, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(Main()) != FALSE; }));
  }
  static DWORD WINAPI WindowsThread(void* self) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto* program = static_cast<Program*>(self);
    program->thread_id_ = ::GetCurrentThreadId();
    program->ui_.Run(program->menu_);
  }
  /// True when the windows' thread ended within the time.
  bool WaitForEnd(DWORD milliseconds = 20000) {
    return ::WaitForSingleObject(thread_, milliseconds) == WAIT_OBJECT_0;
  }
  ~Program() {
    if (thread_ != nullptr) {
      if (!WaitForEnd(0)) {
        ::PostMessageW(Main(), WM_CLOSE, 0, 0);
        WaitForEnd();
      }
      ::CloseHandle(thread_);
    }
  }

  static bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 10000) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
      if (condition()) return true;
      ::Sleep(20);
    }
    return condition();
  }

  HWND Main() const { return ui_.NativeWindow(WindowId::kMenu); }
  HWND Dialog() const { return ui_.NativeWindow(WindowId::kIniRem); }
  HWND Control(std::string_view name, int index = -1) const {
    HWND hwnd = ui_.ControlWindow(WindowId::kMenu, name, index);
    return hwnd != nullptr ? hwnd : ui_.ControlWindow(WindowId::kIniRem, name, index);
  }
  HWND DialogControl(std::string_view name) const {
    return ui_.ControlWindow(WindowId::kIniRem, name);
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(thread_id_, &info);
    return info.hwndFocus;
  }
  TestWindowSystem& ui() { return ui_; }

 private:
  Win32Registry registry_;
  Win32Token token_;
  Win32SystemInfo system_;
  Win32Files files_;
  Win32Wmi wmi_;
  TestWindowSystem ui_;
  Funciones funciones_;
  Menu menu_;
  HANDLE thread_ = nullptr;
  std::atomic<DWORD> thread_id_{0};
};

// The controls that take the focus, in tab order.
std::vector<HWND> TabOrder(HWND window) {
  std::vector<HWND> order;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) order.push_back(child);
  }
  return order;
}

std::string WindowText(HWND hwnd) {
  wchar_t text[512] = {};
  ::SendMessageW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return Utf8(text);
}

// The control's rectangle within its window's client area, in pixels.
RECT ClientRect(HWND control) {
  RECT rect;
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

int Pixels(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), 1440); }

void Screenshot(HWND window, const wchar_t* name) {
  // Every part painted before the picture is taken.
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  ::Sleep(300);
  RECT rect;
  ::GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  // The window as it stands on the screen, frame and controls included.
  ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::GdiFlush();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  const int stride = (width * 3 + 3) & ~3;
  for (int y = 0; y < height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(bits) + y * stride;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      pixel[0] = row[x * 3 + 2];
      pixel[1] = row[x * 3 + 1];
      pixel[2] = row[x * 3];
    }
  }
  std::set<std::uint32_t> colours;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    colours.insert(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  }
  EXPECT_GT(colours.size(), 8u) << "blank screenshot " << Utf8(name);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);

  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe);
  folder = folder.substr(0, folder.find_last_of(L'\\')) + L"\\screenshots";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  EXPECT_TRUE(testing::WritePng(folder + L"\\" + name, width, height, rgb)) << Utf8(name);
}

// Registry state through the program's own registry class.
Variante Read(KeyRef root, std::string_view path, std::string_view name) {
  Win32Registry registry;
  return Registro(registry).ConsultarValor(root, path, name);
}

bool KeyExists(KeyRef root, std::string_view path) {
  Win32Registry registry;
  KeyRef key = kNullKey;
  if (registry.OpenKey(root, path, 0, kKeyRead, &key) != kErrorSuccess) return false;
  registry.CloseKey(key);
  return true;
}

constexpr std::string_view kSystemPolicy =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr std::string_view kWinlogon = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr std::string_view kMain = "Software\\Microsoft\\Internet Explorer\\Main";

// The main window's client size and every control's place, caption and
// font at `dpi`.
void ExpectLayout(Program& program, UINT dpi) {
  const HWND main = program.Main();
  RECT client;
  ::GetClientRect(main, &client);
  EXPECT_EQ(client.right, Pixels(Menu::Layout().client_width, dpi));
  EXPECT_EQ(client.bottom, Pixels(Menu::Layout().client_height, dpi));
  int frames = 0;
  int boxes = 0;
  for (const Control& control : Menu::Controls()) {
    const std::string id = std::string(control.name) + " " + std::to_string(control.index);
    const HWND hwnd = program.Control(control.name, control.index);
    ASSERT_NE(hwnd, nullptr) << id << " at " << dpi;
    TwipsRect twips = control.rect;
    for (const Control& frame : Menu::Controls()) {
      if (!control.parent.empty() && frame.name == control.parent) {
        twips.left += frame.rect.left;
        twips.top += frame.rect.top;
      }
    }
    const RECT rect = ClientRect(hwnd);
    EXPECT_EQ(rect.left, Pixels(twips.left, dpi)) << id << " at " << dpi;
    EXPECT_EQ(rect.top, Pixels(twips.top, dpi)) << id << " at " << dpi;
    EXPECT_EQ(rect.right, Pixels(twips.left + twips.width, dpi)) << id << " at " << dpi;
    EXPECT_EQ(rect.bottom, Pixels(twips.top + twips.height, dpi)) << id << " at " << dpi;
    EXPECT_EQ(WindowText(hwnd), control.caption) << id << " at " << dpi;
    if (control.kind == ControlKind::kFrame) ++frames;
    if (control.kind == ControlKind::kCheckBox) ++boxes;

    // The font asked for is the font drawn: MS Sans Serif is installed.
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
    LOGFONTW asked{};
    ::GetObjectW(font, sizeof(asked), &asked);
    EXPECT_EQ(asked.lfWeight, control.font.weight) << id << " at " << dpi;
    EXPECT_EQ(asked.lfHeight, -std::lround(control.font.points * dpi / 72.0))
        << id << " at " << dpi;
    const HDC dc = ::GetDC(hwnd);
    const HGDIOBJ old = ::SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, face);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd, dc);
    EXPECT_EQ(Utf8(face), "MS Sans Serif") << id << " at " << dpi;
  }
  EXPECT_EQ(frames, 3);
  EXPECT_EQ(boxes, 15);
}

TEST(Win32Windows, MainWindowIsDrawnFromItsLayout) {
  Program program;
  program.Start();
  const HWND main = program.Main();
  EXPECT_EQ(WindowText(main), "Sorbantilex 1.9.2");

  // Client size and every control's place, caption and font, at the
  // window's dpi; then again after the window moved to a 144-dpi monitor.
  const HDC screen = ::GetDC(main);
  const UINT dpi = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
  ::ReleaseDC(main, screen);
  ExpectLayout(program, dpi);
  RECT moved;
  ::GetWindowRect(main, &moved);
  ::SendMessageW(main, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&moved));
  ExpectLayout(program, 144);
  ::SendMessageW(main, 0x02E0, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&moved));

  // "Unlock!" has the focus; frames and button carry their tooltips.
  EXPECT_EQ(program.Focus(), program.Control("cmdUnlock"));
  ASSERT_FALSE(TabOrder(main).empty());
  EXPECT_EQ(TabOrder(main).front(), program.Control("cmdUnlock"));
  for (const char* name : {"frmPolicies", "frmFixes", "frmInternet", "cmdUnlock"}) {
    const HWND control = program.Control(name);
    const HWND tooltip = ::FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr);
    ASSERT_NE(tooltip, nullptr);
    wchar_t text[256] = {};
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = main;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text;
    HWND owner_tip = nullptr;
    for (HWND tip = tooltip; tip != nullptr;
         tip = ::FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr)) {
      if (::GetWindow(tip, GW_OWNER) == main) owner_tip = tip;
    }
    ASSERT_NE(owner_tip, nullptr);
    ::SendMessageW(owner_tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    const Control* layout = nullptr;
    for (const Control& c : Menu::Controls()) {
      if (c.name == name) layout = &c;
    }
    EXPECT_EQ(Utf8(text), layout->tooltip) << name;
  }

  // Window centred on the screen, not on the work area.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(main, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcMonitor;
  RECT window;
  ::GetWindowRect(main, &window);
  EXPECT_LE(std::abs((window.left + window.right) - (area.left + area.right)), 2);
  EXPECT_LE(std::abs((window.top + window.bottom) - (area.top + area.bottom)), 2);
}

TEST(Win32Windows, ARunWithTheHomePageDialogRepairsTheRegistryAndEnds) {
  Win32Registry registry;
  {
    Registro setup(registry);
    for (KeyRef root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
      setup.CrearNuevaClave(root, kSystemPolicy);
      setup.EstablecerValor(root, kSystemPolicy, "DisableTaskMgr", Variante(std::int32_t{1}),
                            kRegDword);
    }
    setup.CrearNuevaClave(kHkeyLocalMachine, kWinlogon);
    setup.EstablecerValor(kHkeyLocalMachine, kWinlogon, "Shell", Variante("malo.exe"), kRegSz);
    setup.CrearNuevaClave(kHkeyCurrentUser, kMain);
    setup.EstablecerValor(kHkeyCurrentUser, kMain, "Start Page", Variante("http://malo.example"),
                          kRegSz);
  }

  Program program;
  program.Start();
  // Tick one box by clicking it, the rest of "Restricciones" by a
  // double-click on that frame where no box is.
  ::SendMessageW(program.Control("checkFixes", 3), BM_CLICK, 0, 0);
  ::SendMessageW(program.Control("checkInternet", 0), BM_CLICK, 0, 0);
  const HWND frame = program.Control("frmPolicies");
  RECT frame_rect;
  ::GetWindowRect(frame, &frame_rect);
  const POINT between_boxes{frame_rect.right - 10, frame_rect.bottom - 10};
  EXPECT_EQ(::WindowFromPoint(between_boxes), frame);
  ::PostMessageW(frame, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  ASSERT_TRUE(Program::WaitUntil([&] {
    for (int i = 0; i < 4; ++i) {
      if (::SendMessageW(program.Control("checkPolicies", i), BM_GETCHECK, 0, 0) != BST_CHECKED)
        return false;
    }
    return true;
  }));
  EXPECT_EQ(::SendMessageW(program.Control("checkFixes", 0), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  Screenshot(program.Main(), L"menu.png");

  // "Unlock!": the dialog comes up, on top, with "Aplicar" focused.
  ::PostMessageW(program.Control("cmdUnlock"), BM_CLICK, 0, 0);
  ASSERT_TRUE(Program::WaitUntil([&] { return ::IsWindowVisible(program.Dialog()) != FALSE; }));
  const HWND dialog = program.Dialog();
  EXPECT_EQ(WindowText(dialog), IniRem::Layout().title);
  EXPECT_TRUE(::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(
      Program::WaitUntil([&] { return program.Focus() == program.DialogControl("cmdOk"); }));
  EXPECT_EQ(TabOrder(dialog),
            (std::vector<HWND>{program.DialogControl("cmdOk"), program.DialogControl("cmdCancel"),
                               program.DialogControl("txtURL")}));
  EXPECT_EQ(WindowText(program.Control("txtURL")), kInitialStartPage);
  for (const Control& control : IniRem::Controls()) {
    EXPECT_EQ(WindowText(program.DialogControl(control.name)), control.caption) << control.name;
  }
  Screenshot(dialog, L"ini_rem.png");

  const std::string typed = "http://www.ejemplo.example/inicio";
  ::SendMessageW(program.Control("txtURL"), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(Wide(typed).c_str()));
  ::PostMessageW(program.Control("cmdOk"), BM_CLICK, 0, 0);

  // The run goes on, shows its final message and ends the program.
  ASSERT_TRUE(program.WaitForEnd());
  EXPECT_EQ(program.ui().exit_code, 0);
  ASSERT_EQ(program.ui().boxes.size(), 1u);
  const SeenBox& final_box = program.ui().boxes[0];
  EXPECT_EQ(final_box.title, "Finalizado");
  EXPECT_EQ(final_box.text.rfind("Sorbantilex ha finalizado las tareas seleccionadas.", 0), 0u)
      << final_box.text;
  EXPECT_EQ(final_box.buttons, 1);
  EXPECT_FALSE(final_box.icon);

  EXPECT_FALSE(KeyExists(kHkeyLocalMachine, kSystemPolicy));
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, kSystemPolicy));
  EXPECT_EQ(Read(kHkeyLocalMachine, kWinlogon, "Shell").ToText(), "Explorer.exe");
  EXPECT_EQ(Read(kHkeyCurrentUser, kMain, "Start Page").ToText(), typed);
}

TEST(Win32Windows, ClosingTheMainWindowDuringARunEndsAtOnce) {
  {
    Win32Registry registry;
    Registro(registry).EstablecerValor(kHkeyCurrentUser, kMain, "Start Page",
                                       Variante("http://antes.example"), kRegSz);
  }
  Program program;
  program.Start();
  ::SendMessageW(program.Control("checkInternet", 0), BM_CLICK, 0, 0);
  ::PostMessageW(program.Control("cmdUnlock"), BM_CLICK, 0, 0);
  ASSERT_TRUE(Program::WaitUntil([&] { return ::IsWindowVisible(program.Dialog()) != FALSE; }));
  ::PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(program.WaitForEnd());
  EXPECT_EQ(program.ui().exit_code, 0);
  EXPECT_TRUE(program.ui().boxes.empty());
  EXPECT_EQ(Read(kHkeyCurrentUser, kMain, "Start Page").ToText(), "http://antes.example");
}

TEST(Win32Windows, NothingTickedShowsItsMessageAndTheWindowStays) {
  Program program;
  program.Start();
  ::PostMessageW(program.Control("cmdUnlock"), BM_CLICK, 0, 0);
  ASSERT_TRUE(Program::WaitUntil([&] { return !program.ui().boxes.empty(); }));
  EXPECT_EQ(program.ui().boxes[0].title, "Sorbantilex");
  EXPECT_EQ(program.ui().boxes[0].text, "Seleccione como mínimo una tarea a realizar.");
  EXPECT_FALSE(program.ui().boxes[0].icon);
  EXPECT_FALSE(program.WaitForEnd(300));
  EXPECT_TRUE(::IsWindowVisible(program.Main()));
}

TEST(Win32Windows, ASecondInstanceIsRecognised) {
  Win32WindowSystem first(::GetModuleHandleW(nullptr));
  EXPECT_FALSE(first.PreviousInstance());
  Win32WindowSystem second(::GetModuleHandleW(nullptr));
  EXPECT_TRUE(second.PreviousInstance());
}

}  // namespace
}  // namespace sorbantilex
