#include "platform/memory/memory_wmi.h"

#include <algorithm>

#include "registry/failure.h"
#include "registry/key_names.h"

namespace sorbantilex {

namespace {

constexpr auto Hresult(std::uint32_t value) { return static_cast<std::int32_t>(value); }

const std::int32_t kServiceDisabled = Hresult(0x80070422);
const std::int32_t kMonikerSyntax = Hresult(0x800401E4);
const std::int32_t kInvalidNamespace = Hresult(0x8004100E);
const std::int32_t kInvalidClass = Hresult(0x80041010);
const std::int32_t kInvalidQuery = Hresult(0x80041017);
const std::int32_t kTypeMismatch = Hresult(0x80041005);
const std::int32_t kUnknownName = Hresult(0x80020006);
const std::int32_t kBadParamCount = Hresult(0x8002000E);
const std::int32_t kArgTypeMismatch = Hresult(0x80020005);
const std::int32_t kNotCollection = Hresult(0x80020003);

// Win32_Service method results.
constexpr std::int32_t kServiceCannotAcceptControl = 5;
constexpr std::int32_t kServiceRequestTimeout = 7;
constexpr std::int32_t kServiceAlreadyRunning = 10;
constexpr std::int32_t kServiceIsDisabled = 14;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

[[noreturn]] void UnknownMethod(std::string_view method) {
  throw Failure(kUnknownName, "WMI: nombre desconocido \"" + std::string(method) + "\".");
}

void ExpectArgs(std::string_view method, std::span<const AutomationArg> args, std::size_t count) {
  if (args.size() != count) {
    throw Failure(kBadParamCount,
                  "WMI: número de parámetros incorrecto en \"" + std::string(method) + "\".");
  }
}

template <typename T>
const T& Arg(std::string_view method, std::span<const AutomationArg> args, std::size_t index) {
  const T* value = std::get_if<T>(&args[index]);
  if (value == nullptr) {
    throw Failure(kArgTypeMismatch,
                  "WMI: tipo de parámetro incorrecto en \"" + std::string(method) + "\".");
  }
  return *value;
}

std::vector<AutomationArg> Copy(std::span<const AutomationArg> args) {
  return {args.begin(), args.end()};
}

// The service name of "Select * from Win32_Service Where Name ='X'" (keywords
// in any letter case, spaces around "=" optional), or nullopt.
std::optional<std::string> ServiceNameOf(std::string_view query) {
  constexpr std::string_view kPrefix = "Select * from Win32_Service Where Name";
  if (!StartsWithNoCase(query, kPrefix)) return std::nullopt;
  query.remove_prefix(kPrefix.size());
  const auto skip_spaces = [&] {
    while (!query.empty() && query.front() == ' ') query.remove_prefix(1);
  };
  skip_spaces();
  if (query.empty() || query.front() != '=') return std::nullopt;
  query.remove_prefix(1);
  skip_spaces();
  if (query.size() < 2 || query.front() != '\'' || query.back() != '\'') return std::nullopt;
  const std::string_view name = query.substr(1, query.size() - 2);
  if (name.find('\'') != std::string_view::npos) return std::nullopt;
  return std::string(name);
}

}  // namespace

class MemoryWmi::ServiceInstance final : public AutomationObject {
 public:
  ServiceInstance(MemoryWmi& wmi, std::string name) : wmi_(wmi), name_(std::move(name)) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    wmi_.calls_.push_back(
        {"Win32_Service.Name=\"" + name_ + "\"", std::string(method), Copy(args)});
    const bool start = SameName(method, "StartService");
    if (!start && !SameName(method, "StopService")) UnknownMethod(method);
    ExpectArgs(method, args, 0);
    Service* service = wmi_.FindService(name_);
    if (service != nullptr) (void)(start ? Start(*service) : Stop(*service));
    return nullptr;  // a status number
  }

  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    throw Failure(kNotCollection, "WMI: Win32_Service no es una colección.");
  }

 private:
  static std::int32_t Start(Service& service) {
    switch (service.state) {
      case ServiceState::kDisabled:
        return kServiceIsDisabled;
      case ServiceState::kRunning:
        return kServiceAlreadyRunning;
      case ServiceState::kStopped:
        if (!service.start_succeeds) return kServiceRequestTimeout;
        service.state = ServiceState::kRunning;
        return 0;
    }
    return 0;
  }
  static std::int32_t Stop(Service& service) {
    if (service.state != ServiceState::kRunning) return kServiceCannotAcceptControl;
    service.state = ServiceState::kStopped;
    return 0;
  }

  MemoryWmi& wmi_;
  std::string name_;
};

class MemoryWmi::Collection final : public AutomationObject {
 public:
  Collection(MemoryWmi& wmi, std::vector<std::string> names)
      : wmi_(wmi), names_(std::move(names)) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg>) override {
    UnknownMethod(method);
  }

  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    class Enumerator final : public AutomationEnumerator {
     public:
      Enumerator(MemoryWmi& wmi, std::vector<std::string> names)
          : wmi_(wmi), names_(std::move(names)) {}
      std::unique_ptr<AutomationObject> Next() override {
        if (next_ >= names_.size()) return nullptr;
        return std::make_unique<ServiceInstance>(wmi_, names_[next_++]);
      }

     private:
      MemoryWmi& wmi_;
      std::vector<std::string> names_;
      std::size_t next_ = 0;
    };
    return std::make_unique<Enumerator>(wmi_, names_);
  }

 private:
  MemoryWmi& wmi_;
  std::vector<std::string> names_;
};

class MemoryWmi::Namespace final : public AutomationObject {
 public:
  Namespace(MemoryWmi& wmi, std::string moniker) : wmi_(wmi), moniker_(std::move(moniker)) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    wmi_.calls_.push_back({moniker_, std::string(method), Copy(args)});
    if (!SameName(method, "ExecQuery")) UnknownMethod(method);
    ExpectArgs(method, args, 1);
    const auto name = ServiceNameOf(Arg<std::string>(method, args, 0));
    if (!name) throw Failure(kInvalidQuery, "WMI: consulta no válida.");
    std::vector<std::string> names;
    if (const Service* service = wmi_.FindService(*name)) names.push_back(service->name);
    return std::make_unique<Collection>(wmi_, std::move(names));
  }

  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    throw Failure(kNotCollection, "WMI: el espacio de nombres no es una colección.");
  }

 private:
  MemoryWmi& wmi_;
  std::string moniker_;
};

class MemoryWmi::RegistryProvider final : public AutomationObject {
 public:
  explicit RegistryProvider(MemoryWmi& wmi) : wmi_(wmi) {}

  std::unique_ptr<AutomationObject> Invoke(std::string_view method,
                                           std::span<const AutomationArg> args) override {
    wmi_.calls_.push_back({"StdRegProv", std::string(method), Copy(args)});
    if (!SameName(method, "SetBinaryValue")) UnknownMethod(method);
    ExpectArgs(method, args, 4);
    const auto root = static_cast<KeyRef>(Arg<std::int32_t>(method, args, 0));
    const auto& path = Arg<std::string>(method, args, 1);
    const auto& name = Arg<std::string>(method, args, 2);
    const auto& numbers = Arg<std::vector<std::int32_t>>(method, args, 3);
    std::vector<std::uint8_t> bytes;
    for (const std::int32_t number : numbers) {
      if (number < 0 || number > 255) {
        throw Failure(kTypeMismatch, "WMI: SetBinaryValue recibió un valor que no es un byte.");
      }
      bytes.push_back(static_cast<std::uint8_t>(number));
    }
    // The provider answers with a status, which nobody reads; a missing key
    // is not created.
    KeyRef key = kNullKey;
    if (wmi_.registry_.OpenKey(root, path, 0, kKeySetValue, &key) == kErrorSuccess) {
      (void)wmi_.registry_.SetValue(key, name, kRegBinary, bytes);
      (void)wmi_.registry_.CloseKey(key);
    }
    return nullptr;
  }

  std::unique_ptr<AutomationEnumerator> NewEnum() override {
    throw Failure(kNotCollection, "WMI: StdRegProv no es una colección.");
  }

 private:
  MemoryWmi& wmi_;
};

MemoryWmi::MemoryWmi(RegistryApi& registry) : registry_(registry) {}
MemoryWmi::~MemoryWmi() = default;

std::unique_ptr<AutomationObject> MemoryWmi::BindMoniker(std::string_view moniker) {
  calls_.push_back({std::string(moniker), {}, {}});
  if (!available_) {
    throw Failure(kServiceDisabled,
                  "No se puede conectar con WMI: el servicio Instrumental de administración de "
                  "Windows está deshabilitado.");
  }
  const auto syntax_error = [&] {
    return Failure(kMonikerSyntax, "WMI: moniker no válido \"" + std::string(moniker) + "\".");
  };
  constexpr std::string_view kScheme = "winmgmts:";
  if (!StartsWithNoCase(moniker, kScheme)) throw syntax_error();
  std::string_view rest = moniker.substr(kScheme.size());
  if (rest.starts_with('{')) {
    const auto close = rest.find('}');
    if (close == std::string_view::npos) throw syntax_error();
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != '!') throw syntax_error();
      rest.remove_prefix(1);
    }
  }
  for (const std::string_view local : {"\\\\.\\", "//./"}) {
    if (rest.starts_with(local)) rest.remove_prefix(local.size());
  }
  const auto colon = rest.find(':');
  const std::string_view space = colon == std::string_view::npos ? rest : rest.substr(0, colon);
  const std::string_view class_name =
      colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);

  if ((space.empty() || SameName(space, "root\\cimv2")) && class_name.empty()) {
    return std::make_unique<Namespace>(*this, std::string(moniker));
  }
  if (SameName(space, "root\\default")) {
    if (SameName(class_name, "StdRegProv")) return std::make_unique<RegistryProvider>(*this);
    throw Failure(kInvalidClass, "WMI: clase no válida \"" + std::string(class_name) + "\".");
  }
  throw Failure(kInvalidNamespace,
                "WMI: espacio de nombres no válido \"" + std::string(space) + "\".");
}

void MemoryWmi::AddService(std::string name, ServiceState state, bool start_succeeds) {
  services_.push_back({std::move(name), state, start_succeeds});
}

MemoryWmi::Service* MemoryWmi::FindService(std::string_view name) {
  const auto found = std::ranges::find_if(
      services_, [&](const Service& service) { return SameName(service.name, name); });
  return found == services_.end() ? nullptr : &*found;
}

std::optional<MemoryWmi::ServiceState> MemoryWmi::State(std::string_view name) const {
  const auto found = std::ranges::find_if(
      services_, [&](const Service& service) { return SameName(service.name, name); });
  if (found == services_.end()) return std::nullopt;
  return found->state;
}

}  // namespace sorbantilex
