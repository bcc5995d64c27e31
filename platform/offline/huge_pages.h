#pragma once

// libhivex reads a hive opened for writing into one buffer of the hive's
// size, allocated with malloc, and writes it back from there. On a system
// with transparent huge pages only for memory that asks for them, first
// touching that buffer page by page costs as much as the read itself; the C
// library's malloc asks for huge pages when its hugetlb tunable is set, and
// tunables are read once, when the program starts. So a run that is going
// to write hives starts itself again with that tunable set, once.

#include <optional>
#include <string>
#include <string_view>

namespace sorbantilex::offline {

// The value GLIBC_TUNABLES should have for malloc to use huge pages, given
// its value now (nullopt when unset) and the kernel's transparent huge page
// mode ("always [madvise] never"); nullopt when nothing is to change: the
// kernel uses no huge pages, or the tunable has been set (by us or by the
// user, who may have turned it off).
std::optional<std::string> HugePageTunables(std::optional<std::string_view> tunables,
                                            std::string_view transparent_huge_pages);

// Sets the tunable in this program's environment, for the programs it
// starts, when HugePageTunables says so; true when it did.
bool AskForHugePageBuffers();

// Starts this program again, with the same arguments and the tunable set,
// when HugePageTunables says so; returns only when it does not (or when the
// program cannot be started again, and then runs on as it is).
void RestartWithHugePageBuffers(char** argv);

}  // namespace sorbantilex::offline
