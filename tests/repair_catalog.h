#pragma once

#include <algorithm>
#include <array>
#include <ostream>
#include <string_view>

#include "app/task_catalog.h"
#include "tasks/funciones.h"

namespace sorbantilex {

/// One repair, for tables of cases.
struct Repair {
  std::string_view name;
  void (Funciones::*run)();
  /// Run by the offline front ends only, never by the Windows program.
  bool offline_only = false;
};
inline void PrintTo(const Repair& repair, std::ostream* out) { *out << repair.name; }

/// Every repair of the task catalogue, in the order the task runner calls them.
inline constexpr auto kRepairs = [] {
  std::array<Repair, TaskCount()> repairs{};
  std::size_t next = 0;
  for (const Step& step : kSteps) {
    if (step.kind == StepKind::kTask) repairs[next++] = {step.name, step.task, step.OfflineOnly()};
  }
  return repairs;
}();

}  // namespace sorbantilex
