#include "registry/registry_api.h"

#include "registry/utf8.h"

namespace sorbantilex {

Status RegistryApi::QueryStoredValue(KeyRef key, std::string_view name, std::uint32_t* type,
                                     std::vector<std::uint8_t>* data) {
  std::uint32_t kind = 0;
  std::uint32_t size = 0;
  Status status = QueryValue(key, name, &kind, nullptr, &size);
  std::vector<std::uint8_t> bytes;
  // The value may grow between the two calls; ask again while it does.
  for (int attempt = 0; status == kErrorSuccess || status == kErrorMoreData; ++attempt) {
    if (attempt == 8) return kErrorMoreData;
    bytes.resize(size);
    status = QueryValue(key, name, &kind, bytes.data(), &size);
    if (status == kErrorSuccess) break;
  }
  if (status != kErrorSuccess) return status;
  bytes.resize(size);
  if (type != nullptr) *type = kind;
  if (data != nullptr) {
    const bool text = kind == kRegSz || kind == kRegExpandSz || kind == kRegMultiSz;
    *data = text ? Utf8ToUtf16Le(
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
                 : std::move(bytes);
  }
  return kErrorSuccess;
}

}  // namespace sorbantilex
