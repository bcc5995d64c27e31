// Lets the builds start on Windows XP (and XP x64 / Server 2003).
//
// Debian's static winpthread (which the POSIX thread model of mingw-w64
// links into every program) imports GetTickCount64, which Windows XP lacks;
// a program that imports it does not start there. This file fills that
// import slot itself, so kernel32's entry is never asked for: the real
// function where the system has it, else GetTickCount. winpthread measures
// short waits with it; the 49.7-day wrap-around of GetTickCount cannot
// matter to a program that runs for minutes.
//
// It must be linked as an object file (not from a library), so that the
// slot is defined before winpthread is read.

#include <windows.h>

#include "platform/win32/dynamic_function.h"

#if defined(__MINGW32__)

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI TickCount64() {
  static const TickCount64Function system_function =
      sorbantilex::win32::LoadSystemFunction<TickCount64Function>(L"kernel32.dll",
                                                                  "GetTickCount64");
  return system_function != nullptr ? system_function() : ::GetTickCount();
}

}  // namespace

#ifdef _WIN64
#define SORBANTILEX_IMPORT_SLOT "__imp_GetTickCount64"
#else
#define SORBANTILEX_IMPORT_SLOT "__imp__GetTickCount64@0"
#endif

extern "C" {
extern TickCount64Function const kernel32_get_tick_count64 __asm__(SORBANTILEX_IMPORT_SLOT);
TickCount64Function const kernel32_get_tick_count64 = TickCount64;
}

#endif
