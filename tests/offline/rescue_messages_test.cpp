// What the rescue system says of each kind of volume.

#include "offline_test_support.h"
#include "ui/text/rescue_messages.h"

namespace sorbantilex::offline::testing {
namespace {

using rescue::Hibernation;
using rescue::VolumeState;
using text::HibernationWay;

struct TextCase {
  const char* name;
  VolumeState state;
  Hibernation hibernation;
  const char* description;
  std::vector<const char*> explained;  // phrases of ExplainVolume; none: empty
  std::vector<HibernationWay> ways;
};

TEST(RescueMessages, SayWhatEachVolumeIsAndWhatCanBeDone) {
  const TextCase cases[] = {
      {"Windows",
       VolumeState::kWindows,
       Hibernation::kNone,
       "Windows 10 Pro 22H2 (compilación 19045) — 237,5 GB — «Sistema» — /dev/sda3",
       {},
       {}},
      {"Fast Startup",
       VolumeState::kWindows,
       Hibernation::kFastStartup,
       "Windows 10 Pro 22H2 (compilación 19045), inicio rápido — 237,5 GB — «Sistema» — /dev/sda3",
       {"Windows no se cerró del todo (inicio rápido)", "no se puede cambiar nada"},
       {HibernationWay::kRestartWindows, HibernationWay::kRecoverJournal}},
      {"hibernated",
       VolumeState::kWindows,
       Hibernation::kHibernated,
       "Windows 10 Pro 22H2 (compilación 19045), hibernado — 237,5 GB — «Sistema» — /dev/sda3",
       {"Windows está hibernado", "no se puede cambiar nada"},
       {HibernationWay::kRestartWindows, HibernationWay::kRecoverJournal,
        HibernationWay::kDropHibernation}},
      {"BitLocker",
       VolumeState::kBitLocker,
       Hibernation::kNone,
       "cifrado con BitLocker — 237,5 GB — «Sistema» — /dev/sda3",
       {"cifrado con BitLocker", "Sorbantilex-64-bits.exe", "suspenda allí BitLocker",
        "https://aka.ms/myrecoverykey"},
       {}},
      {"unreadable",
       VolumeState::kUnreadable,
       Hibernation::kNone,
       "NTFS que no se puede leer — 237,5 GB — «Sistema» — /dev/sda3",
       {"No se ha modificado nada", "NTFS is inconsistent"},
       {}},
      {"no Windows",
       VolumeState::kNoWindows,
       Hibernation::kNone,
       "NTFS sin Windows — 237,5 GB — «Sistema» — /dev/sda3",
       {"no hay ninguna instalación de Windows"},
       {}},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    rescue::Volume volume;
    volume.device.path = "/dev/sda3";
    volume.device.label = "Sistema";
    volume.device.size = 255013830656;  // 237,5 GB as Windows counts them
    volume.state = c.state;
    volume.hibernation = c.hibernation;
    if (c.state == VolumeState::kWindows) {
      volume.windows_version = "Windows 10 Pro 22H2";
      volume.windows_build = "19045";
    }
    if (c.state == VolumeState::kUnreadable) {
      volume.detail = "NTFS is inconsistent. Run chkdsk /f on Windows then reboot it TWICE!";
    }
    EXPECT_EQ(text::DescribeVolume(volume), c.description);
    const std::string explained = text::ExplainVolume(volume);
    EXPECT_EQ(explained.empty(), c.explained.empty()) << explained;
    for (const char* phrase : c.explained) {
      EXPECT_NE(explained.find(phrase), std::string::npos) << phrase << "\n" << explained;
    }
    std::vector<HibernationWay> ways;
    for (const auto& option : text::HibernationOptions(volume)) {
      ways.push_back(option.way);
      EXPECT_FALSE(option.title.empty());
      if (option.way == HibernationWay::kRestartWindows) {
        EXPECT_NE(option.explanation.find("«Reiniciar» (no «Apagar»)"), std::string::npos);
      }
      if (option.way != HibernationWay::kRestartWindows &&
          c.hibernation == Hibernation::kHibernated) {
        EXPECT_NE(option.explanation.find("trabajo sin guardar"), std::string::npos);
      }
    }
    EXPECT_EQ(ways, c.ways);
  }
}

}  // namespace
}  // namespace sorbantilex::offline::testing
