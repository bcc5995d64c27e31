// The Safe Mode with networking set.

#include <algorithm>
#include <array>
#include <iterator>

#include "tasks/modo_seguro.h"

namespace sorbantilex {

namespace {

// The entries only the Network set has; the rest are the Minimal set's.
constexpr std::array<EntradaModoSeguro, 40> kSoloRed = {{
    {"AFD", kTextoServicio},
    {"Browser", kTextoServicio},
    {"Dhcp", kTextoServicio},
    {"DnsCache", kTextoServicio},
    {"ip6fw.sys", kTextoControlador},
    {"ipnat.sys", kTextoControlador},
    {"LanmanServer", kTextoServicio},
    {"LanmanWorkstation", kTextoServicio},
    {"LmHosts", kTextoServicio},
    {"Messenger", kTextoServicio},
    {"NDIS", kTextoGrupo},
    {"NDIS Wrapper", kTextoGrupo},
    {"Ndisuio", kTextoServicio},
    {"NetBIOS", kTextoServicio},
    {"NetBIOSGroup", kTextoGrupo},
    {"NetBT", kTextoServicio},
    {"NetDDEGroup", kTextoGrupo},
    {"NetMan", kTextoServicio},
    {"Network", kTextoGrupo},
    {"NetworkProvider", kTextoGrupo},
    {"nm", kTextoServicio},
    {"nm.sys", kTextoControlador},
    {"NtLmSsp", kTextoServicio},
    {"PNP_TDI", kTextoGrupo},
    {"rdpcdd.sys", kTextoControlador},
    {"rdpdd.sys", kTextoControlador},
    {"rdpwd.sys", kTextoControlador},
    {"rdsessmgr", kTextoServicio},
    {"SharedAccess", kTextoServicio},
    {"Streams Drivers", kTextoGrupo},
    {"Tcpip", kTextoServicio},
    {"TDI", kTextoGrupo},
    {"tdpipe.sys", kTextoControlador},
    {"tdtcp.sys", kTextoControlador},
    {"termservice", kTextoServicio},
    {"WZCSVC", kTextoServicio},
    {"{4D36E972-E325-11CE-BFC1-08002BE10318}", "Net"},
    {"{4D36E973-E325-11CE-BFC1-08002BE10318}", "NetClient"},
    {"{4D36E974-E325-11CE-BFC1-08002BE10318}", "NetService"},
    {"{4D36E975-E325-11CE-BFC1-08002BE10318}", "NetTrans"},
}};

// Key names in ascending order, letters compared as lower case, every other
// character by its code, a name before any longer name it begins.
bool Precede(const EntradaModoSeguro& a, const EntradaModoSeguro& b) {
  const auto minuscula = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  };
  return std::ranges::lexicographical_compare(a.clave, b.clave, {}, minuscula, minuscula);
}

}  // namespace

std::vector<EntradaModoSeguro> ModoSeguroRed() {
  std::vector<EntradaModoSeguro> red;
  red.reserve(kModoSeguroMinimo.size() + kSoloRed.size());
  std::ranges::merge(kModoSeguroMinimo, kSoloRed, std::back_inserter(red), Precede);
  return red;
}

}  // namespace sorbantilex
