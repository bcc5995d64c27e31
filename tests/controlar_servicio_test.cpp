#include <gtest/gtest.h>

#include "registry/failure.h"
#include "task_fixture.h"

namespace sorbantilex {
namespace {

using State = MemoryWmi::ServiceState;
using Call = MemoryWmi::Call;

constexpr std::string_view kMoniker =
    "winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";

struct ServiceCase {
  std::string_view name;
  std::int32_t accion;
  std::string_view service;
  State before;
  std::string_view method;  // empty: no method call
  State after;
};

const ServiceCase kCases[] = {
    {"Start", 1, "srservice", State::kStopped, "StartService", State::kRunning},
    {"AnyNonZeroStarts", -1, "srservice", State::kStopped, "StartService", State::kRunning},
    {"Stop", 0, "srservice", State::kRunning, "StopService", State::kStopped},
    {"StartWhileRunning", 1, "srservice", State::kRunning, "StartService", State::kRunning},
    {"StartDisabled", 1, "srservice", State::kDisabled, "StartService", State::kDisabled},
    {"NameInOtherCase", 1, "SRSERVICE", State::kStopped, "StartService", State::kRunning},
    {"UnknownService", 1, "nosuchservice", State::kStopped, "", State::kStopped},
};

class ControlarServicioTest : public TaskTest, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(ControlarServicioTest, QueriesByNameAndCallsTheMethodOnEachMatch) {
  const ServiceCase& c = GetParam();
  wmi_.AddService("RpcSs", State::kRunning);
  wmi_.AddService("srservice", c.before);

  funciones_.ControlarServicio(c.accion, c.service);

  std::vector<Call> expected = {
      {std::string(kMoniker), "", {}},
      {std::string(kMoniker),
       "ExecQuery",
       {"Select * from Win32_Service Where Name ='" + std::string(c.service) + "'"}},
  };
  if (!c.method.empty())
    expected.push_back({"Win32_Service.Name=\"srservice\"", std::string(c.method), {}});
  EXPECT_EQ(wmi_.calls(), expected);
  EXPECT_EQ(wmi_.State("srservice"), c.after);
  EXPECT_EQ(wmi_.State("RpcSs"), State::kRunning);
  // One yield after each method call.
  EXPECT_EQ(ui_.Yields(), c.method.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ControlarServicioTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlarServicioTest, UnavailableWmiIsRaised) {
  wmi_.SetAvailable(false);
  try {
    funciones_.ControlarServicio(1, "srservice");
    FAIL() << "no failure raised";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), static_cast<std::int32_t>(0x80070422u));
    EXPECT_FALSE(failure.description().empty());
  }
}

// A quote in the name goes into the query as it stands, and WMI refuses it.
TEST_F(ControlarServicioTest, NameIsNotEscaped) {
  EXPECT_THROW(funciones_.ControlarServicio(1, "a' or Name='b"), Failure);
  ASSERT_EQ(wmi_.calls().size(), 2u);
  EXPECT_EQ(wmi_.calls()[1].args,
            std::vector<AutomationArg>{"Select * from Win32_Service Where Name ='a' or Name='b'"});
}

}  // namespace
}  // namespace sorbantilex
