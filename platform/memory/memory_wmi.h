#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_api.h"
#include "tasks/automation.h"

namespace sorbantilex {

/// WMI as the repairs see it, in memory:
/// - "winmgmts:" monikers (any letter case, optional "{...}!" security part
///   and "\\.\" local machine) naming the namespace root\cimv2, or the class
///   StdRegProv of root\default; anything else raises;
/// - root\cimv2's ExecQuery answers "Select * from Win32_Service Where Name
///   ='X'" with the matching Win32_Service instance (names compared without
///   regard to letter case), whose StartService and StopService change the
///   service table as the service manager would;
/// - StdRegProv's SetBinaryValue stores a REG_BINARY value, in an existing
///   key only, through the registry it is given.
/// Every bind and every method call is recorded in order. Failures are raised
/// as `Failure` with the HRESULT WMI gives for them.
class MemoryWmi final : public Wmi {
 public:
  enum class ServiceState { kRunning, kStopped, kDisabled };

  /// One bind (`method` empty, `object` the moniker) or one method call
  /// (`object` names the object: the moniker of a namespace, a
  /// Win32_Service.Name="X" path, or StdRegProv).
  struct Call {
    std::string object;
    std::string method;
    std::vector<AutomationArg> args;
    friend bool operator==(const Call&, const Call&) = default;
  };

  explicit MemoryWmi(RegistryApi& registry);
  ~MemoryWmi() override;

  std::unique_ptr<AutomationObject> BindMoniker(std::string_view moniker) override;

  /// Tests: a service and whether a start from the stopped state succeeds.
  void AddService(std::string name, ServiceState state, bool start_succeeds = true);
  std::optional<ServiceState> State(std::string_view name) const;
  /// Tests: with false every bind raises, as when the WMI service is
  /// disabled (0x80070422).
  void SetAvailable(bool available) { available_ = available; }

  const std::vector<Call>& calls() const { return calls_; }

 private:
  class Namespace;
  class Collection;
  class ServiceInstance;
  class RegistryProvider;

  struct Service {
    std::string name;
    ServiceState state;
    bool start_succeeds;
  };

  Service* FindService(std::string_view name);

  RegistryApi& registry_;
  std::vector<Service> services_;
  std::vector<Call> calls_;
  bool available_ = true;
};

}  // namespace sorbantilex
