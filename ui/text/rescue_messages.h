#pragma once

// What the rescue system says about the PC's volumes, in Spanish: one place
// for the window, the console menu and the unattended mode.

#include <string>
#include <string_view>
#include <vector>

#include "rescue/volumes.h"

namespace sorbantilex::text {

/// One line for a list of volumes: Windows version (or what the volume is),
/// size, label and device: "Windows 10 Pro 22H2 — 237,5 GB — «Sistema» — /dev/sda3".
std::string DescribeVolume(const rescue::Volume& volume);

/// The same with the device first, for a heading:
/// "/dev/sda3: Windows 10 Pro 22H2 (compilación 19045) — 237,5 GB — «Sistema»".
std::string VolumeHeading(const rescue::Volume& volume);

/// Why the volume cannot be repaired as it is and what the user can do, in
/// plain Spanish; empty for a Windows volume that can be repaired now.
std::string ExplainVolume(const rescue::Volume& volume);

/// The ways out of a hibernated or Fast Startup volume, in the order offered.
enum class HibernationWay {
  kRestartWindows,   // start Windows, leave it with "Reiniciar", boot the USB again
  kRecoverJournal,   // ntfsrecover, then -k, then mount read-write
  kDropHibernation,  // remove_hiberfile (a real hibernation only)
};
struct HibernationOption {
  HibernationWay way;
  std::string title;        // a button's caption
  std::string explanation;  // what it does, what may fail, what is lost
};
/// The options offered for `volume`'s state (none when it is not
/// hibernated); Cancel is always offered besides them and is the default.
/// After kRecoverJournal (`rescue::RecoverJournal`) and kDropHibernation
/// the volume is mounted with `Mount::Mode::kReadWriteDroppingHibernation`.
std::vector<HibernationOption> HibernationOptions(const rescue::Volume& volume);

/// The caption of the default choice beside them.
inline constexpr std::string_view kCancelCaption = "Cancelar (no cambiar nada)";

}  // namespace sorbantilex::text
