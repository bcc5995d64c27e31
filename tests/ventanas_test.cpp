#include <gtest/gtest.h>

#include "task_fixture.h"

namespace sorbantilex {
namespace {

constexpr std::string_view kNewWindows = "Software\\Microsoft\\Internet Explorer\\New Windows";
constexpr std::string_view kAllow = "Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";

class VentanasTest : public TaskTest {};

TEST_F(VentanasTest, EmptiesTheListAndLeavesPopupMgr) {
  Put(kHkeyCurrentUser, kNewWindows, "PopupMgr", kRegSz, Text("no"));
  Put(kHkeyCurrentUser, kAllow, "*.evil.com", kRegBinary, Bytes{0, 0});
  Put(kHkeyCurrentUser, kAllow, "ads.example", kRegBinary, Bytes{0, 0});
  Put(kHkeyCurrentUser, std::string(kAllow) + "\\Sub", "x", kRegSz, Text("y"));

  funciones_.EliminarVentanasPermitidas();

  EXPECT_EQ(At(kHkeyCurrentUser, kNewWindows),
            Key("New Windows", {Sz("PopupMgr", "no")}, {Key("Allow", {Sz("PopupMgr", "yes")})}));
}

TEST_F(VentanasTest, MissingListIsCreated) {
  funciones_.EliminarVentanasPermitidas();

  EXPECT_EQ(At(kHkeyCurrentUser, kAllow), Key("Allow", {Sz("PopupMgr", "yes")}));
}

}  // namespace
}  // namespace sorbantilex
