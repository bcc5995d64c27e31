// sorbantilex-bench-hivexsh ANTES DESPUES: prints the hivexsh script that
// turns hive ANTES into hive DESPUES: the keys deleted, the keys created and
// the values of every key whose values changed (hivexsh replaces a key's
// values all at once), ending with "commit". Key and value names are matched
// without regard to letter case, as the registry does.

#include <hivex.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct CloseHive {
  void operator()(hive_h* hive) const noexcept { hivex_close(hive); }
};
using UniqueHive = std::unique_ptr<hive_h, CloseHive>;

struct FreeMemory {
  void operator()(void* memory) const noexcept { std::free(memory); }
};
template <typename T>
using UniqueMemory = std::unique_ptr<T, FreeMemory>;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct Value {
  std::string name;
  hive_type type;
  std::string data;
  auto operator<=>(const Value&) const = default;
};

class Hive {
 public:
  explicit Hive(const char* path) : hive_(hivex_open(path, 0)) {
    if (!hive_) throw std::runtime_error(std::string("cannot open ") + path);
  }
  hive_node_h Root() const { return hivex_root(hive_.get()); }

  std::string Name(hive_node_h node) const {
    UniqueMemory<char> name(hivex_node_name(hive_.get(), node));
    if (!name) throw std::runtime_error("unreadable key name");
    return name.get();
  }

  // Children by upper-case name.
  std::map<std::string, hive_node_h> Children(hive_node_h node) const {
    UniqueMemory<hive_node_h> children(hivex_node_children(hive_.get(), node));
    if (!children) throw std::runtime_error("unreadable subkeys");
    std::map<std::string, hive_node_h> out;
    for (hive_node_h* child = children.get(); *child != 0; ++child)
      out[Upper(Name(*child))] = *child;
    return out;
  }

  // Values sorted by upper-case name.
  std::vector<Value> Values(hive_node_h node) const {
    UniqueMemory<hive_value_h> values(hivex_node_values(hive_.get(), node));
    if (!values) throw std::runtime_error("unreadable values");
    std::vector<Value> out;
    for (hive_value_h* value = values.get(); *value != 0; ++value) {
      UniqueMemory<char> key(hivex_value_key(hive_.get(), *value));
      hive_type type{};
      size_t size = 0;
      UniqueMemory<char> data(hivex_value_value(hive_.get(), *value, &type, &size));
      if (!key || !data) throw std::runtime_error("unreadable value");
      out.push_back({key.get(), type, std::string(data.get(), size)});
    }
    std::ranges::sort(out, [](const Value& a, const Value& b) {
      return std::tuple(Upper(a.name), a.type, a.data) < std::tuple(Upper(b.name), b.type, b.data);
    });
    return out;
  }

 private:
  UniqueHive hive_;
};

void Cd(const std::string& path) { std::cout << "cd " << (path.empty() ? "\\ " : path) << "\n"; }

void SetValues(const std::vector<Value>& values) {
  std::cout << "setval " << values.size() << "\n";
  for (const Value& value : values) {
    std::cout << (value.name.empty() ? "@" : value.name) << "\nhex:" << value.type << ":";
    for (std::size_t i = 0; i < value.data.size(); ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, "%s%02x", i == 0 ? "" : ",",
                    static_cast<unsigned char>(value.data[i]));
      std::cout << byte;
    }
    std::cout << "\n";
  }
}

void Create(const Hive& after, hive_node_h node, const std::string& path) {
  const auto values = after.Values(node);
  if (!values.empty()) {
    Cd(path);
    SetValues(values);
  }
  for (const auto& [upper, child] : after.Children(node)) {
    Cd(path);
    const std::string name = after.Name(child);
    std::cout << "add " << name << "\n";
    Create(after, child, path + "\\" + name);
  }
}

void Compare(const Hive& before, hive_node_h old_node, const Hive& after, hive_node_h new_node,
             const std::string& path) {
  const auto values = after.Values(new_node);
  if (before.Values(old_node) != values) {
    Cd(path);
    SetValues(values);
  }
  const auto old_children = before.Children(old_node);
  const auto new_children = after.Children(new_node);
  for (const auto& [upper, child] : old_children) {
    if (!new_children.contains(upper)) {
      Cd(path + "\\" + before.Name(child));
      std::cout << "del\n";
    }
  }
  for (const auto& [upper, child] : new_children) {
    const std::string child_path = path + "\\" + after.Name(child);
    if (const auto old = old_children.find(upper); old != old_children.end()) {
      Compare(before, old->second, after, child, child_path);
    } else {
      Cd(path);
      std::cout << "add " << after.Name(child) << "\n";
      Create(after, child, child_path);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "Uso: sorbantilex-bench-hivexsh ANTES DESPUES\n";
    return 2;
  }
  try {
    const Hive before(argv[1]);
    const Hive after(argv[2]);
    Compare(before, before.Root(), after, after.Root(), "");
    std::cout << "commit\n";
  } catch (const std::exception& error) {
    std::cerr << "sorbantilex-bench-hivexsh: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
