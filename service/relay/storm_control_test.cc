#include "service/relay/storm_control.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/codec.h"
#include "service/snmp/value_text.h"

namespace tervane::relay {
namespace {

constexpr char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
constexpr char kIfIndex7[] = "1.3.6.1.2.1.2.2.1.1.7";
constexpr char kIfIndex8[] = "1.3.6.1.2.1.2.2.1.1.8";

store::StormRule Rule(std::string prefix, uint32_t per_minute, uint32_t burst, bool on = true) {
  store::StormRule r;
  r.prefix = std::move(prefix);
  r.per_minute = per_minute;
  r.burst = burst;
  r.enabled = on;
  return r;
}

// A key's parts, with the first binding's OID as content octets.
struct Key {
  explicit Key(std::string s, std::string oid = kLinkDown, const std::string& binding = kIfIndex7)
      : source(std::move(s)), trap_oid(std::move(oid)) {
    size_t n = 0;
    if (!binding.empty() && snmp::OidTextToBer(binding, content.data(), &n) == nullptr) {
      length = n;
    }
  }
  StormTrap trap() const { return {source, trap_oid, {content.data(), length}}; }
  std::string source;
  std::string trap_oid;
  std::array<uint8_t, snmp::kMaxOidContent> content{};
  size_t length = 0;
};

// The controller with a fixed seed, and what it reported.
struct Harness {
  explicit Harness(std::vector<store::StormRule> rules, StormControl::Limits limits = {})
      : control(std::move(rules), {1, 2}, limits) {}
  // Checks `key` at `now`, keeping the datagram `tag` when asked; true when it went on.
  bool Pass(const Key& key, int64_t now, uint8_t tag = 0, size_t size = 4) {
    const StormControl::Verdict v = control.Check(key.trap(), now);
    if (v.keep) control.KeepTrailing(std::vector<uint8_t>(size, tag));
    return !v.held;
  }
  void Tick(int64_t now) {
    control.Tick(
        now, [this](const std::string& t) { events.push_back(t); },
        [this](std::span<const uint8_t> d, std::string_view s) {
          resent.emplace_back(std::string(s), d.empty() ? 0 : d[0]);
        });
  }
  void EndAll() {
    control.EndAll([this](const std::string& t) { events.push_back(t); },
                   [this](std::span<const uint8_t> d, std::string_view s) {
                     resent.emplace_back(std::string(s), d.empty() ? 0 : d[0]);
                   });
  }
  void Minute(int64_t now) {
    control.ReportMinute(now, [this](const std::string& t) { events.push_back(t); });
  }
  StormControl control;
  std::vector<std::string> events;
  std::vector<std::pair<std::string, uint8_t>> resent;
};

TEST(StormBucket, FillsAtItsRateUpToItsBurst) {
  struct Step {
    int64_t at;
    bool taken;
  };
  struct Case {
    const char* name;
    uint32_t per_minute;
    uint32_t burst;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"burst then one a second",
       60,
       2,
       {{0, true},
        {0, true},
        {0, false},
        {999, false},
        {1000, true},
        {1000, false},
        {3500, true},
        {3500, true},
        {3500, false}}},
      {"never above the burst", 600, 1, {{0, true}, {100000, true}, {100000, false}}},
      {"a part token carries over", 90, 1, {{0, true}, {400, false}, {667, true}}},
      {"the largest rule after a long pause",
       1000000,
       100000,
       {{0, true}, {int64_t{1} << 50, true}}},
      {"time that runs back adds nothing", 60, 1, {{5000, true}, {1000, false}, {5999, false}}},
  };
  for (const Case& c : cases) {
    StormBucket bucket{int64_t{c.burst} * kStormTokenUnits, 0};
    for (size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(TakeToken(&bucket, c.per_minute, c.burst, c.steps[i].at), c.steps[i].taken)
          << c.name << ", step " << i;
      EXPECT_LE(bucket.level, int64_t{c.burst} * kStormTokenUnits) << c.name;
    }
  }
}

TEST(StormControl, TheLongestEnabledPrefixRules) {
  const StormControl control(
      {Rule("", 30, 10), Rule("1.3.6.1.4.1.9", 5, 1), Rule("1.3.6.1.4.1.9.9.41", 6, 1, false),
       Rule("1.3.6.1.4.1.9.9", 7, 1), Rule("1.3.6.1.4.1.99", 8, 1)},
      {0, 0}, {});
  const std::vector<std::pair<std::string, int>> cases = {
      {"1.3.6.1.4.1.9", 1},
      {"1.3.6.1.4.1.9.1.2", 1},
      {"1.3.6.1.4.1.9.9", 3},
      {"1.3.6.1.4.1.9.9.41.0.1", 3},  // its own rule is off: the next shorter one
      {"1.3.6.1.4.1.99.0.1", 4},
      {"1.3.6.1.4.1.999.0.1", 0},
      {"1.3.6.1.4.1", 0},
      {kLinkDown, 0},
  };
  for (const auto& [oid, rule] : cases) EXPECT_EQ(control.RuleFor(oid), rule) << oid;
  // The default rule switched off limits nothing.
  const StormControl off({Rule("", 30, 10, false), Rule("1.3.6.1.4.1.9", 5, 1)}, {0, 0}, {});
  EXPECT_EQ(off.RuleFor(kLinkDown), -1);
  EXPECT_EQ(off.RuleFor("1.3.6.1.4.1.9.0.1"), 1);
}

TEST(StormControl, AKeyIsSourceTrapAndFirstBinding) {
  Harness h({Rule("", 60, 1), Rule("1.3.6.1.4.1.9", 0, 1)});
  const Key key("192.0.2.7");
  EXPECT_TRUE(h.Pass(key, 0));
  EXPECT_FALSE(h.Pass(key, 0));
  // An IPv4 sender seen on a dual-stack socket is the same sender.
  EXPECT_FALSE(h.Pass(Key("::ffff:192.0.2.7"), 0));
  EXPECT_FALSE(h.Pass(Key("::FFFF:192.0.2.7"), 0));
  for (const Key& other : {Key("192.0.2.8"), Key("192.0.2.7", "1.3.6.1.6.3.1.1.5.4"),
                           Key("192.0.2.7", kLinkDown, kIfIndex8), Key("192.0.2.7", kLinkDown, ""),
                           Key("::ffff:c000:207")}) {
    EXPECT_TRUE(h.Pass(other, 0)) << other.source << " " << other.trap_oid << " " << other.length;
  }
  EXPECT_EQ(h.control.held(0), 3u);
  // A filter holds back everything, tracks no key, keeps nothing and says nothing.
  const uint32_t tracked = h.control.tracked();
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(h.Pass(Key("192.0.2.9", "1.3.6.1.4.1.9.0.1"), 0));
  EXPECT_EQ(h.control.held(1), 3u);
  EXPECT_EQ(h.control.tracked(), tracked);
  h.Tick(kStormMinuteMs);
  EXPECT_EQ(h.resent.size(), 1u);  // 192.0.2.7's storm only
  for (const std::string& e : h.events) EXPECT_EQ(e.find("192.0.2.9"), std::string::npos) << e;
}

TEST(StormControl, TheTableIsBoundedAndDropsTheLeastRecentlySeen) {
  Harness small({Rule("", 1, 1)}, {.keys = 4, .slots = 4, .trailing_bytes = 1024});
  auto key = [](int i) { return Key("10.0.0." + std::to_string(i)); };
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(small.Pass(key(i), 0));
  EXPECT_FALSE(small.Pass(key(0), 1));  // 0 is the most recent now, 1 the least
  EXPECT_TRUE(small.Pass(key(4), 2));   // 1 is dropped for it
  EXPECT_EQ(small.control.tracked(), 4u);
  EXPECT_TRUE(small.Pass(key(1), 3));  // new again: a whole burst (and 2 goes)
  EXPECT_FALSE(small.Pass(key(0), 4));
  EXPECT_FALSE(small.Pass(key(3), 5));
  // 0 stormed, and its key is dropped by a flood of new ones: its last trap goes on.
  for (int i = 10; i < 20; ++i) EXPECT_TRUE(small.Pass(key(i), 6));
  EXPECT_EQ(small.control.tracked(), 4u);
  small.Tick(7);
  EXPECT_EQ(small.resent.size(), 2u);
  EXPECT_EQ(small.control.storming_slots(), 0u);

  // The full table: the last kStormMaxKeys keys are remembered, the ones before forgotten.
  Harness full({Rule("", 1, 1)});
  constexpr int kKeys = static_cast<int>(kStormMaxKeys) * 2;
  Key k("10.0.0.1", kLinkDown, "");
  auto at = [&](int i) {
    k.source = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
               std::to_string(i & 255);
    return k;
  };
  for (int i = 0; i < kKeys; ++i) ASSERT_TRUE(full.Pass(at(i), 0)) << i;
  EXPECT_EQ(full.control.tracked(), kStormMaxKeys);
  int remembered = 0;
  for (int i = kKeys - 1000; i < kKeys; ++i) remembered += full.Pass(at(i), 0) ? 0 : 1;
  EXPECT_EQ(remembered, 1000);
  // Those held back are the most recent now; the first ones come back as new keys.
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(full.Pass(at(i), 0)) << i;
  EXPECT_EQ(full.control.tracked(), kStormMaxKeys);
}

TEST(StormControl, AStormEndsWithItsLastTrapSentOn) {
  struct Case {
    const char* name;
    size_t room;  // trailing_bytes
    bool later_passes;
    std::vector<std::pair<std::string, uint8_t>> resent;
    std::string event;
  };
  const std::string ended = "Trap storm ended: 1.3.6.1.6.3.1.1.5.3 from 192.0.2.7, ";
  const std::vector<Case> cases = {
      {"sent on",
       1024,
       false,
       {{"192.0.2.7", 5}},
       ended + "3 traps held back in all; the last one was sent on"},
      {"a later trap went on",
       1024,
       true,
       {},
       ended + "3 traps held back in all; a later one had gone on"},
      {"no room", 2, false, {}, ended + "3 traps held back in all; the last one could not be kept"},
  };
  for (const Case& c : cases) {
    // One token every 100 ms, two at most.
    Harness h({Rule("", 600, 2)}, {.keys = 16, .slots = 4, .trailing_bytes = c.room});
    const Key key("::ffff:192.0.2.7");
    for (uint8_t n = 1; n <= 5; ++n) {
      EXPECT_EQ(h.Pass(key, 0, n), n <= 2) << c.name << " " << int{n};
    }
    if (c.later_passes) {
      EXPECT_TRUE(h.Pass(key, 150, 6));
    }
    h.Tick(199);  // not full yet
    EXPECT_TRUE(h.events.empty()) << c.name;
    h.Tick(c.later_passes ? 300 : 200);
    EXPECT_EQ(h.resent, c.resent) << c.name;
    EXPECT_EQ(h.events, std::vector<std::string>{c.event}) << c.name;
    EXPECT_EQ(h.control.storming_slots(), 0u) << c.name;
    h.Tick(1000);  // ended once
    EXPECT_EQ(h.events.size(), 1u) << c.name;
    EXPECT_LE(h.control.trailing_bytes(), c.room) << c.name;
  }
}

TEST(StormControl, AStopEndsEveryStormWithItsLastTrap) {
  // One a minute after two: the bucket is far from full when the service stops.
  Harness h({Rule("", 1, 2)}, {.keys = 16, .slots = 4, .trailing_bytes = 1 << 20});
  const Key key("192.0.2.7");
  for (uint8_t n = 1; n <= 4; ++n) EXPECT_EQ(h.Pass(key, 0, n), n <= 2);
  h.Tick(1000);
  EXPECT_TRUE(h.resent.empty());
  h.EndAll();
  EXPECT_EQ(h.resent, (std::vector<std::pair<std::string, uint8_t>>{{"192.0.2.7", 4}}));
  EXPECT_EQ(h.events, std::vector<std::string>{"Trap storm ended: 1.3.6.1.6.3.1.1.5.3 from "
                                               "192.0.2.7, 2 traps held back in all; the last "
                                               "one was sent on"});
  EXPECT_EQ(h.control.storming_slots(), 0u);
}

TEST(StormControl, AMinuteNamesTwentyKeysAndSumsUpTheRest) {
  // Two at once, then one a minute: no storm is over within the minute. Three slots: keys
  // beyond them are held back all the same, without their texts.
  Harness h({Rule("", 1, 2)}, {.keys = 64, .slots = 3, .trailing_bytes = 1 << 20});
  auto send = [&](const Key& k, int times) {
    for (int i = 0; i < times; ++i) h.Pass(k, 0);
  };
  send(Key("192.0.2.7"), 4514);
  send(Key("192.0.2.8", "1.3.6.1.4.1.9.0.1", ""), 3);
  send(Key("192.0.2.9"), 3);
  for (int n = 0; n < 30; ++n) send(Key("198.51.100." + std::to_string(n)), 4);
  h.Tick(kStormMinuteMs - 1);
  EXPECT_TRUE(h.events.empty());
  h.Tick(kStormMinuteMs);
  const std::vector<std::string> expected = {
      "Held back 4,512 traps 1.3.6.1.6.3.1.1.5.3 from 192.0.2.7 in the last minute (first "
      "binding 1.3.6.1.2.1.2.2.1.1.7)",
      "Held back 1 trap 1.3.6.1.4.1.9.0.1 from 192.0.2.8 in the last minute",
      "Held back 1 trap 1.3.6.1.6.3.1.1.5.3 from 192.0.2.9 in the last minute (first binding "
      "1.3.6.1.2.1.2.2.1.1.7)",
      "Held back 60 more traps from 30 more storming keys in the last minute; the last trap of "
      "30 storming keys could not be kept, for want of room",
  };
  EXPECT_EQ(h.events, expected);
  EXPECT_TRUE(h.resent.empty());

  // Five storms end first and take five of the minute's twenty events; fifteen keys are
  // named, those that held back most, and the other ten summed up.
  Harness many({Rule("", 1, 2), Rule("1.3.6.1.4.1.9", 600, 1)},
               {.keys = 64, .slots = 32, .trailing_bytes = 1 << 20});
  for (int n = 0; n < 25; ++n) {
    const Key k("203.0.113." + std::to_string(n));
    for (int i = 0; i < 3 + n; ++i) many.Pass(k, 0);
  }
  for (int n = 0; n < 5; ++n) {
    const Key k("192.0.2." + std::to_string(n), "1.3.6.1.4.1.9.0.1", "");
    for (int i = 0; i < 2; ++i) many.Pass(k, 0, static_cast<uint8_t>(n));
  }
  many.Tick(1000);
  ASSERT_EQ(many.events.size(), 5u);
  EXPECT_EQ(many.events[4],
            "Trap storm ended: 1.3.6.1.4.1.9.0.1 from 192.0.2.4, 1 trap held back in all; the "
            "last one was sent on");
  EXPECT_EQ(many.resent.size(), 5u);
  many.Tick(kStormMinuteMs);
  ASSERT_EQ(many.events.size(), 21u);
  EXPECT_EQ(many.events[5],
            "Held back 25 traps 1.3.6.1.6.3.1.1.5.3 from 203.0.113.24 in the last minute (first "
            "binding 1.3.6.1.2.1.2.2.1.1.7)");
  EXPECT_EQ(many.events[19].substr(0, 40), "Held back 11 traps 1.3.6.1.6.3.1.1.5.3 f");
  EXPECT_EQ(many.events[20],
            "Held back 55 more traps from 10 more storming keys in the last minute");
  // The next minute all 25 storms end: twenty of them said, five summed up.
  many.events.clear();
  many.Tick(2 * kStormMinuteMs);
  ASSERT_EQ(many.events.size(), 21u);
  EXPECT_EQ(many.events[20], "In the last minute: 5 more trap storms ended");
  EXPECT_EQ(many.resent.size(), 30u);
  EXPECT_EQ(many.control.held(0), 25u * 26 / 2);
  EXPECT_EQ(many.control.held(1), 5u);
}

TEST(StormControl, NamesAndNumbers) {
  const std::vector<std::pair<uint64_t, std::string>> numbers = {
      {0, "0"}, {1, "1"}, {999, "999"}, {1000, "1,000"}, {4512, "4,512"}, {1234567, "1,234,567"}};
  for (const auto& [n, text] : numbers) EXPECT_EQ(GroupedNumber(n), text);
  std::vector<uint8_t> binding;
  snmp::VariableView v;
  v.oid = kIfIndex7;
  v.type = snmp::kTypeInteger32;
  v.value = "7";
  ASSERT_TRUE(snmp::EncodeBinding(v, &binding).ok());
  const std::span<const uint8_t> name = BindingNameContent(binding);
  std::array<uint8_t, snmp::kMaxOidContent> content{};
  size_t length = 0;
  ASSERT_EQ(snmp::OidTextToBer(kIfIndex7, content.data(), &length), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(name.begin(), name.end()),
            std::vector<uint8_t>(content.begin(), content.begin() + static_cast<long>(length)));
  for (size_t cut = 0; cut < 4; ++cut) {
    EXPECT_TRUE(BindingNameContent(std::span(binding).first(cut)).empty()) << cut;
  }
  binding[0] = 0x31;
  EXPECT_TRUE(BindingNameContent(binding).empty());
}

}  // namespace
}  // namespace tervane::relay
