#include "platform/offline/hive_file/log_recovery.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <functional>
#include <memory>

#include "log_writer.h"
#include "offline_test_support.h"
#include "platform/offline/hive_file/marvin32.h"
#include "platform/offline/hive_file/regf.h"

namespace sorbantilex::offline::testing {
namespace {

constexpr std::uint32_t kFirst = 566;  // the hive's secondary sequence number
constexpr std::size_t kBase = 4096;

// The hive's history: state k + 1 is state k after the log entry numbered
// kFirst + k. Entry 3 adds a hive bin.
struct History {
  std::vector<std::vector<std::uint8_t>> states;

  History() {
    auto image = MakeHiveImage(4, kFirst);
    states.push_back(image);
    for (const auto& step : std::vector<std::function<void(std::vector<std::uint8_t>&)>>{
             [](auto& i) { Touch(i, 0, 0x11); }, [](auto& i) { Touch(i, 1, 0x22); },
             [](auto& i) { Touch(i, 2, 0x33); }, [](auto& i) { Grow(i, 0x44); },
             [](auto& i) { Touch(i, 3, 0x55); }}) {
      step(image);
      states.push_back(image);
    }
  }

  // The file Windows left: state 0, its primary sequence number one ahead.
  std::vector<std::uint8_t> Primary() const {
    auto primary = states[0];
    SetSequences(primary, kFirst + 1, kFirst);
    return primary;
  }

  // A new-format log holding entries [from, to).
  NewLogWriter Log(std::size_t from, std::size_t to) const {
    NewLogWriter log(states[from], static_cast<std::uint32_t>(kFirst + from));
    for (std::size_t k = from; k < to; ++k) {
      log.Add(static_cast<std::uint32_t>(kFirst + k), states[k], states[k + 1]);
    }
    return log;
  }
};

TransactionLog Named(const std::string& name, std::vector<std::uint8_t> bytes) {
  return TransactionLog{name, std::move(bytes)};
}

struct Scenario {
  std::vector<std::uint8_t> primary;
  HiveLogs logs;
};

using Applied = std::vector<std::pair<std::string, std::size_t>>;

using IssueKind = RecoveryIssue::Kind;

// A recovery issue as a case expects it: its kind, and the log, entry or
// page it names where the case says.
struct Expected {
  IssueKind kind = IssueKind::kNone;
  std::string_view log = {};
  std::uint64_t at = 0;  // the entry's sequence number, or an old-format page

  void Check(const RecoveryIssue& issue) const {
    EXPECT_EQ(issue.kind, kind) << static_cast<int>(issue.kind);
    if (!log.empty()) {
      EXPECT_EQ(issue.log, log);
    }
    if (at != 0) {
      EXPECT_EQ(kind == IssueKind::kOldPageInvalidBin ? issue.number : issue.entry, at);
    }
  }
};

// What a case expects: a recovery or a refusal.
struct Outcome {
  /// The hive bins expected: a state of the history, or built by `expect`.
  int state = -1;
  std::function<std::vector<std::uint8_t>(const History&)> expect;
  Applied applied;
  Expected left_out;  // kNone when nothing is left out
  bool base_block_from_log = false;
  std::uint32_t sequence = 0;  // checked when not 0
  Expected refusal;            // kNone for a recovery
};

Outcome Recovered(int state, Applied applied, Expected left_out = {}, std::uint32_t sequence = 0) {
  Outcome outcome;
  outcome.state = state;
  outcome.applied = std::move(applied);
  outcome.left_out = left_out;
  outcome.sequence = sequence;
  return outcome;
}

Outcome WithBaseBlockFromLog(Outcome outcome) {
  outcome.base_block_from_log = true;
  return outcome;
}

Outcome Refused(Expected refusal) {
  Outcome outcome;
  outcome.refusal = refusal;
  return outcome;
}

struct Case {
  std::string_view name;
  std::function<Scenario(const History&)> make;
  Outcome outcome;
};

// Entries 0 to 4 in LOG1, entry `which` spoiled by `spoil` (given the log
// and where the entry starts).
Scenario Spoiled(const History& h, std::size_t which,
                 const std::function<void(NewLogWriter&, std::size_t)>& spoil) {
  NewLogWriter log(h.states[0], kFirst);
  std::size_t spoilt = 0;
  for (std::size_t k = 0; k < 5; ++k) {
    const auto at = log.Add(static_cast<std::uint32_t>(kFirst + k), h.states[k], h.states[k + 1]);
    if (k == which) spoilt = at;
  }
  spoil(log, spoilt);
  return {h.Primary(), {Named("NTUSER.DAT.LOG1", log.bytes()), {}, {}}};
}

Scenario SpoiledThird(const History& h,
                      const std::function<void(NewLogWriter&, std::size_t)>& spoil) {
  return Spoiled(h, 2, spoil);
}

// A damaged base block: a byte of the file name changed, checksum kept.
std::vector<std::uint8_t> DamagedBase(const History& h) {
  auto primary = h.Primary();
  primary[60] ^= 0xFF;
  return primary;
}

const Case kCases[] = {
    {"AllEntriesOfOneLog",
     [](const History& h) -> Scenario {
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", h.Log(0, 5).bytes()), {}, {}}};
     },
     Recovered(5, {{"NTUSER.DAT.LOG1", 5}}, {}, kFirst + 5)},
    {"BothLogsTheSecondContinuing",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", h.Log(0, 3).bytes()),
                Named("NTUSER.DAT.LOG2", h.Log(3, 5).bytes()),
                {}}};
     },
     Recovered(5, {{"NTUSER.DAT.LOG1", 3}, {"NTUSER.DAT.LOG2", 2}})},
    {"EarlierEntriesInTheSecondLog",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {Named("ntuser.dat.log1", h.Log(3, 5).bytes()),
                Named("ntuser.dat.log2", h.Log(0, 3).bytes()),
                {}}};
     },
     Recovered(5, {{"ntuser.dat.log2", 3}, {"ntuser.dat.log1", 2}})},
    {"StaleLogIgnored",
     [](const History& h) -> Scenario {
       auto other = h.states[0];
       Touch(other, 3, 0x99);
       NewLogWriter stale(h.states[0], kFirst - 6);
       stale.Add(kFirst - 6, h.states[0], other);
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", h.Log(0, 5).bytes()),
                Named("NTUSER.DAT.LOG2", stale.bytes()),
                {}}};
     },
     Recovered(5, {{"NTUSER.DAT.LOG1", 5}})},
    {"GapInSequenceNumbersStops",
     [](const History& h) -> Scenario {
       auto log = h.Log(0, 2);
       log.Add(kFirst + 3, h.states[3], h.states[4]);
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", log.bytes()), {}, {}}};
     },
     // The entry left out still counts for the new sequence number.
     Recovered(2, {{"NTUSER.DAT.LOG1", 2}},
               {IssueKind::kEntryMissing, "NTUSER.DAT.LOG1", kFirst + 3}, kFirst + 4)},
    {"BadFirstHashStops",
     [](const History& h) {
       return SpoiledThird(h,
                           [](NewLogWriter& log, std::size_t at) { log.bytes()[at + 5000] ^= 1; });
     },
     Recovered(2, {{"NTUSER.DAT.LOG1", 2}}, {IssueKind::kEntryBadHash, "NTUSER.DAT.LOG1", 568})},
    {"BadSecondHashStops",
     [](const History& h) {
       return SpoiledThird(h, [](NewLogWriter& log, std::size_t at) { log.bytes()[at + 8] ^= 1; });
     },
     Recovered(2, {{"NTUSER.DAT.LOG1", 2}}, {IssueKind::kEntryBadHash})},
    {"BadHiveBinsSizeStops",
     [](const History& h) {
       return SpoiledThird(h, [](NewLogWriter& log, std::size_t at) {
         Put32(log.bytes(), at + 16, 3 * 4096 + 512);
         log.Rehash(at);
       });
     },
     Recovered(2, {{"NTUSER.DAT.LOG1", 2}}, {IssueKind::kEntryBadBinsSize})},
    {"BadEntrySizeStops",
     [](const History& h) {
       return SpoiledThird(h, [](NewLogWriter& log, std::size_t at) {
         Put32(log.bytes(), at + 4, Get32(log.bytes(), at + 4) + 100);
       });
     },
     Recovered(2, {{"NTUSER.DAT.LOG1", 2}}, {IssueKind::kEntryBadSize})},
    {"EntryWithoutPagesStops",
     [](const History& h) {
       return SpoiledThird(h, [](NewLogWriter& log, std::size_t at) {
         Put32(log.bytes(), at + 20, 0);
         log.Rehash(at);
       });
     },
     Recovered(2, {{"NTUSER.DAT.LOG1", 2}}, {IssueKind::kEntryNoPages, "NTUSER.DAT.LOG1", 568})},
    {"OlderEntriesAfterTheLastEndQuietly",
     [](const History& h) -> Scenario {
       auto log = h.Log(0, 3);
       log.Add(kFirst - 10, h.states[0], h.states[1]);
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", log.bytes()), {}, {}}};
     },
     Recovered(3, {{"NTUSER.DAT.LOG1", 3}})},
    {"SecondLogNotContinuingIsLeftOut",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", h.Log(0, 3).bytes()),
                Named("NTUSER.DAT.LOG2", h.Log(4, 5).bytes()),
                {}}};
     },
     Recovered(3, {{"NTUSER.DAT.LOG1", 3}}, {IssueKind::kEntryMissing, "", 570})},
    {"SecondLogFirstEntryNotTheOneItsHeaderNames",
     [](const History& h) -> Scenario {
       // Entry 569 continues LOG1, but LOG2's base block announces 570.
       NewLogWriter second(h.states[3], kFirst + 4);
       second.Add(kFirst + 3, h.states[3], h.states[4]);
       second.Add(kFirst + 4, h.states[4], h.states[5]);
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", h.Log(0, 3).bytes()),
                Named("NTUSER.DAT.LOG2", second.bytes()),
                {}}};
     },
     Recovered(3, {{"NTUSER.DAT.LOG1", 3}},
               {IssueKind::kFirstEntryNotAnnounced, "NTUSER.DAT.LOG2"})},
    {"DamagedBaseBlockTakesOnlyTheLatestLog",
     [](const History& h) -> Scenario {
       return {DamagedBase(h),
               {Named("NTUSER.DAT.LOG1", h.Log(0, 3).bytes()),
                Named("NTUSER.DAT.LOG2", h.Log(3, 5).bytes()),
                {}}};
     },
     [] {
       // Entries 569 and 570 on the hive as it was: the new bin and bin 3.
       Outcome outcome = WithBaseBlockFromLog(Recovered(-1, {{"NTUSER.DAT.LOG2", 2}}));
       outcome.expect = [](const History& h) {
         auto image = h.states[0];
         Grow(image, 0x44);
         Touch(image, 3, 0x55);
         return image;
       };
       return outcome;
     }()},
    {"OldFormatWithAGrownHive",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {{}, {}, Named("NTUSER.DAT.LOG", OldFormatLog(h.states[0], h.states[4]))}};
     },
     Recovered(4, {{"NTUSER.DAT.LOG", 32}})},
    {"OldFormatFirstOfTwoLogs",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", OldFormatLog(h.states[0], h.states[2])),
                Named("NTUSER.DAT.LOG2", OldFormatLog(h.states[0], h.states[1])),
                {}}};
     },
     Recovered(2, {{"NTUSER.DAT.LOG1", 16}})},
    {"OldFormatDamagedBaseBlock",
     [](const History& h) -> Scenario {
       return {DamagedBase(h),
               {Named("NTUSER.DAT.LOG1", OldFormatLog(h.states[0], h.states[1])), {}, {}}};
     },
     WithBaseBlockFromLog(Recovered(1, {{"NTUSER.DAT.LOG1", 8}}))},

    {"NoLogs",
     [](const History& h) -> Scenario {
       return {h.Primary(), {}};
     },
     Refused({IssueKind::kNoLogs})},
    {"EmptyLogs",
     [](const History& h) -> Scenario {
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", {}), Named("NTUSER.DAT.LOG2", {}), {}}};
     },
     Refused({IssueKind::kNoLogs})},
    {"DamagedBaseBlockWithoutLogs",
     [](const History& h) -> Scenario {
       return {DamagedBase(h), {}};
     },
     Refused({IssueKind::kNoLogsForDamagedHead})},
    {"OnlyStaleLogs",
     [](const History& h) -> Scenario {
       NewLogWriter stale(h.states[0], kFirst - 1);
       stale.Add(kFirst - 1, h.states[0], h.states[1]);
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", stale.bytes()), {}, {}}};
     },
     Refused({IssueKind::kOnlyOlderChanges})},
    {"LogOfAnotherHive",
     [](const History& h) -> Scenario {
       auto log = h.Log(0, 5);
       log.bytes()[50] ^= 0x20;  // another file name in its base block
       SealBaseBlock(log.bytes());
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", log.bytes()), {}, {}}};
     },
     Refused({IssueKind::kForeignLog, "NTUSER.DAT.LOG1"})},
    {"FirstEntryDamaged",
     [](const History& h) -> Scenario {
       auto log = h.Log(0, 3);
       log.bytes()[5000] ^= 1;
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", log.bytes()),
                Named("NTUSER.DAT.LOG2", h.Log(3, 5).bytes()),
                {}}};
     },
     Refused({IssueKind::kNoEntryApplies})},
    {"ResultWithABrokenBin",
     [](const History& h) -> Scenario {
       auto broken = h.states[0];
       Put32(broken, kBase + 4096 + 8, 1000);  // bin 1 with an impossible size
       NewLogWriter log(h.states[0], kFirst);
       log.Add(kFirst, h.states[0], broken);
       return {h.Primary(), {Named("NTUSER.DAT.LOG1", log.bytes()), {}, {}}};
     },
     Refused({IssueKind::kBinsDoNotFollow})},
    {"OldFormatOfAnotherTime",
     [](const History& h) -> Scenario {
       auto later = h.states[1];
       later[12] ^= 1;  // another last-written time
       SealBaseBlock(later);
       return {h.Primary(), {{}, {}, Named("NTUSER.DAT.LOG", OldFormatLog(h.states[0], later))}};
     },
     Refused({IssueKind::kNoLogOfThisMoment})},
    {"OldFormatOnlyTheSecondLog",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {{}, Named("NTUSER.DAT.LOG2", OldFormatLog(h.states[0], h.states[1])), {}}};
     },
     Refused({IssueKind::kOnlySecondLog})},
    {"OldFormatInvalidDirtyBinAfterValidOnes",
     [](const History& h) -> Scenario {
       // Its pages go together or not at all: bin 0 alone never existed.
       auto after = h.states[1];   // bin 0 changed
       after[kBase + 4096] = 'X';  // bin 1 loses its signature
       Touch(after, 2, 0x77);
       return {h.Primary(), {{}, {}, Named("NTUSER.DAT.LOG", OldFormatLog(h.states[0], after))}};
     },
     Refused({IssueKind::kOldPageInvalidBin, "NTUSER.DAT.LOG", 8})},
    {"OldFormatBinRunningPastTheEnd",
     [](const History& h) -> Scenario {
       auto after = h.states[0];
       Put32(after, kBase + 3 * 4096 + 8, 2 * 4096);  // the last bin claims 8192 bytes
       Touch(after, 3, 0x77);
       return {h.Primary(), {{}, {}, Named("NTUSER.DAT.LOG", OldFormatLog(h.states[0], after))}};
     },
     Refused({IssueKind::kOldPageInvalidBin, "NTUSER.DAT.LOG", 24})},
    {"PagePastTheHiveBins",
     [](const History& h) {
       return SpoiledThird(h, [](NewLogWriter& log, std::size_t at) {
         Put32(log.bytes(), at + 40, 4 * 4096);  // entry 568 has 4 bins
         log.Rehash(at);
       });
     },
     Refused({IssueKind::kEntryPagesOutside, "NTUSER.DAT.LOG1", 568})},
    {"PagesPastTheEndOfTheEntry",
     [](const History& h) {
       // The last entry's only page, at 12288 in 5 bins, said to be twice
       // as long: it fits in the hive but not in the entry.
       return Spoiled(h, 4, [](NewLogWriter& log, std::size_t at) {
         Put32(log.bytes(), at + 44, 2 * 4096);
         log.Rehash(at);
       });
     },
     Refused({IssueKind::kEntryPagesPastEnd, "NTUSER.DAT.LOG1", 570})},
    {"HiveBinsSizeBeyondWhatTheFilesHold",
     [](const History& h) {
       return SpoiledThird(h, [](NewLogWriter& log, std::size_t at) {
         Put32(log.bytes(), at + 16, 0xFFFFF000);
         log.Rehash(at);
       });
     },
     Refused({IssueKind::kEntryTooLarge, "NTUSER.DAT.LOG1", 568})},
    {"OldFormatHiveBinsSizeBeyondWhatTheFilesHold",
     [](const History& h) -> Scenario {
       // Bin 0's pages, with a dirty vector as long as that size needs.
       const auto small = OldFormatLog(h.states[0], h.states[1]);
       std::vector<std::uint8_t> log(small.begin(), small.begin() + 512);
       Put32(log, 40, 0xFFFFF000);
       SealBaseBlock(log);
       log.insert(log.end(), small.begin() + 512, small.begin() + 517);  // DIRT, bin 0
       log.resize((512 + 4 + 0xFFFFF000 / 512 / 8 + 511) / 512 * 512, 0);
       log.insert(log.end(), small.begin() + 1024, small.end());
       return {h.Primary(), {{}, {}, Named("NTUSER.DAT.LOG", log)}};
     },
     Refused({IssueKind::kOldLogTooLarge, "NTUSER.DAT.LOG"})},
    {"BothFormats",
     [](const History& h) -> Scenario {
       return {h.Primary(),
               {Named("NTUSER.DAT.LOG1", h.Log(0, 5).bytes()),
                {},
                Named("NTUSER.DAT.LOG", OldFormatLog(h.states[0], h.states[1]))}};
     },
     Refused({IssueKind::kTwoFormats})},
};

class LogRecoveryTest : public ::testing::TestWithParam<Case> {};

TEST_P(LogRecoveryTest, RecoversAsWindowsDoesOrRefuses) {
  const Outcome& c = GetParam().outcome;
  const History history;
  Scenario scenario = GetParam().make(history);
  ASSERT_TRUE(NeedsRecovery(scenario.primary));
  if (c.refusal.kind != IssueKind::kNone) {
    try {
      RecoverHive(std::move(scenario.primary), scenario.logs);
      FAIL() << "recovered";
    } catch (const RecoveryRefusal& refusal) {
      c.refusal.Check(refusal.issue());
    }
    return;
  }
  const Recovery result = RecoverHive(std::move(scenario.primary), scenario.logs);
  const auto expected =
      c.expect ? c.expect(history) : history.states[static_cast<std::size_t>(c.state)];
  ASSERT_EQ(result.image.size(), expected.size());
  EXPECT_TRUE(
      std::equal(result.image.begin() + kBase, result.image.end(), expected.begin() + kBase))
      << "hive bins differ";
  // A clean base block with the hive bins size of the last state.
  EXPECT_FALSE(NeedsRecovery(result.image));
  EXPECT_EQ(Get32(result.image, 4), result.sequence);
  EXPECT_EQ(Get32(result.image, 40), Get32(expected, 40));
  EXPECT_EQ(Get32(result.image, 28), 0u);
  if (c.sequence != 0) {
    EXPECT_EQ(result.sequence, c.sequence);
  }

  std::vector<std::pair<std::string, std::size_t>> applied;
  for (const auto& log : result.applied) applied.emplace_back(log.name, log.count);
  EXPECT_EQ(applied, c.applied);
  c.left_out.Check(result.left_out);
  EXPECT_EQ(result.base_block_from_log, c.base_block_from_log);
}

INSTANTIATE_TEST_SUITE_P(Recovery, LogRecoveryTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Marvin32, PublishedVectors) {
  struct Vector {
    std::uint64_t seed;
    std::string_view hex;
    std::uint64_t hash;
  };
  constexpr std::uint64_t kSeed1 = 0x004FB61A001BDBCC;
  constexpr std::uint64_t kSeed2 = 0x804FB61A001BDBCC;
  const Vector vectors[] = {
      {kSeed1, "", 0x30ED35C100CD3C7D},
      {kSeed1, "af", 0x48E73FC77D75DDC1},
      {kSeed1, "e70f", 0xB5F6E1FC485DBFF8},
      {kSeed1, "37f495", 0xF0B07C789B8CF7E8},
      {kSeed1, "8642dc59", 0x7008F2E87E9CF556},
      {kSeed1, "153fb79826", 0xE6C08C6DA2AFA997},
      {kSeed1, "0932e6246c47", 0x6F04BF1A5EA24060},
      {kSeed1, "ab427ea8d10fc7", 0xE11847E4F0678C41},
      {kSeed2, "", 0x10A9D5D3996FD65D},
      {kSeed2, "af", 0x68201F91960EBF91},
      {kSeed2, "e70f", 0x64B581631F6AB378},
      {kSeed2, "37f495", 0xE1F2DFA6E5131408},
      {kSeed2, "8642dc59", 0x36289D9654FB49F6},
      {kSeed2, "153fb79826", 0x0A06114B13464DBD},
      {kSeed2, "0932e6246c47", 0xD6DD5E40AD1BC2ED},
      {kSeed2, "ab427ea8d10fc7", 0xE203987DBA252FB3},
  };
  for (const auto& v : vectors) {
    std::vector<std::uint8_t> data;
    for (std::size_t k = 0; k < v.hex.size(); k += 2) {
      data.push_back(
          static_cast<std::uint8_t>(std::stoi(std::string(v.hex.substr(k, 2)), nullptr, 16)));
    }
    EXPECT_EQ(Marvin32(data, v.seed), v.hash) << v.hex;
  }
}

// Every key and value of the hive, read through libhivex; false when a part
// cannot be read.
bool ReadsWhole(const std::vector<std::uint8_t>& image, std::size_t* keys) {
  TempDir dir;
  WriteBytes(dir.path() / "hive", image);
  std::unique_ptr<hive_h, int (*)(hive_h*)> h(hivex_open((dir.path() / "hive").c_str(), 0),
                                              hivex_close);
  if (!h) return false;
  std::function<bool(hive_node_h)> walk = [&](hive_node_h node) {
    ++*keys;
    std::unique_ptr<hive_value_h, void (*)(void*)> values(hivex_node_values(h.get(), node), free);
    std::unique_ptr<hive_node_h, void (*)(void*)> children(hivex_node_children(h.get(), node),
                                                           free);
    if (!values || !children) return false;
    for (const hive_node_h* child = children.get(); *child != 0; ++child) {
      if (!walk(*child)) return false;
    }
    return true;
  };
  return walk(hivex_root(h.get()));
}

TEST(LogRecoveryOfRealHives, AppliesTheirLogsAsWindowsDoes) {
  const fs::path folder = RealHivesFolder() / "dirty";
  if (RealHivesFolder().empty() || !fs::exists(folder)) GTEST_SKIP() << "no real dirty hives";
  struct Real {
    const char* hive;
    const char* log1;
    const char* log2;
    std::vector<std::pair<std::string, std::size_t>> applied;
    std::uint32_t sequence;
  };
  const Real reals[] = {
      // LOG2 holds only entry 562, older than the hive.
      {"transactions_NTUSER.DAT",
       "transactions_ntuser.dat.log1",
       "transactions_ntuser.dat.log2",
       {{"transactions_ntuser.dat.log1", 23}},
       589},
      {"UsrClass.dat",
       "UsrClass.dat.LOG1",
       "UsrClass.dat.LOG2",
       {{"UsrClass.dat.LOG1", 4}, {"UsrClass.dat.LOG2", 10}},
       301},
  };
  for (const auto& real : reals) {
    SCOPED_TRACE(real.hive);
    const auto primary = ReadBytes(folder / real.hive);
    ASSERT_TRUE(NeedsRecovery(primary));
    const HiveLogs logs{Named(real.log1, ReadBytes(folder / real.log1)),
                        Named(real.log2, ReadBytes(folder / real.log2)),
                        {}};
    const Recovery result = RecoverHive(primary, logs);
    std::vector<std::pair<std::string, std::size_t>> applied;
    for (const auto& log : result.applied) applied.emplace_back(log.name, log.count);
    EXPECT_EQ(applied, real.applied);
    EXPECT_TRUE(result.left_out.empty());
    EXPECT_EQ(result.sequence, real.sequence);
    EXPECT_NE(result.image, primary);
    std::size_t keys = 0;
    EXPECT_TRUE(ReadsWhole(result.image, &keys));
    EXPECT_GT(keys, 100u);
  }
}

}  // namespace
}  // namespace sorbantilex::offline::testing
