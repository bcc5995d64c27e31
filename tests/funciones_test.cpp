#include "tasks/funciones.h"

#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

class EveryRepairTest : public TaskTest, public ::testing::WithParamInterface<Repair> {
 protected:
  void SetUp() override { SetUpDamagedSystem(); }
  void Run() { (funciones_.*GetParam().run)(); }
};

TEST_P(EveryRepairTest, ChangesSomethingAndRunningTwiceEqualsOnce) {
  const SystemState damaged = State();
  Run();
  const SystemState once = State();
  Run();

  EXPECT_NE(once, damaged);
  EXPECT_EQ(State(), once);
  EXPECT_EQ(registry_.OpenHandles(), 0u);
  EXPECT_TRUE(ui_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Repairs, EveryRepairTest, ::testing::ValuesIn(kRepairs),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  Repair repair;
  KeyRef root;
  std::string_view protected_key;
  std::string_view still_done;  // a key that the repair changes all the same
};

// A key the user may not write is passed over in silence: it stays as it
// was, and the repair does the rest.
const RefusedCase kRefused[] = {
    {{"Policies", &Funciones::EliminarRestriccionesSistema},
     kHkeyLocalMachine,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy Objects"},
    {{"HiddenFiles", &Funciones::RepararArchivosOcultos},
     kHkeyLocalMachine,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\Hidden\\SHOWALL",
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\Folder\\SuperHidden"},
    {{"ServiceKey", &Funciones::RepararRestaurarSistema},
     kHkeyLocalMachine,
     "SYSTEM\\CurrentControlSet\\Services\\srservice",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Policies"},
    {{"Winlogon", &Funciones::RestaurarShell},
     kHkeyLocalMachine,
     "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
     ""},
    {{"SafeBoot", &Funciones::RepararModoSeguro},
     kHkeyLocalMachine,
     "SYSTEM\\CurrentControlSet\\Control\\SafeBoot",
     ""},
    {{"TrustedDomain", &Funciones::EliminarSitiosConfianza},
     kHkeyCurrentUser,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
     "Settings\\ZoneMap\\Domains\\trusted.com",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
     "Settings\\ZoneMap\\Domains\\mixed.com"},
    {{"PopupList", &Funciones::EliminarVentanasPermitidas},
     kHkeyCurrentUser,
     "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
     ""},
};

class RefusedWriteTest : public TaskTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedWriteTest, IsPassedOverSilently) {
  SetUpDamagedSystem();
  const RefusedCase& c = GetParam();
  Protect(c.root, std::string(c.protected_key));
  const auto protected_before = At(c.root, c.protected_key);
  const auto done_before = At(c.root, c.still_done);

  EXPECT_NO_THROW((funciones_.*c.repair.run)());

  EXPECT_EQ(At(c.root, c.protected_key), protected_before);
  if (!c.still_done.empty()) {
    EXPECT_NE(At(c.root, c.still_done), done_before);
  }
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(registry_.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Repairs, RefusedWriteTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.repair.name); });

}  // namespace
}  // namespace sorbantilex
