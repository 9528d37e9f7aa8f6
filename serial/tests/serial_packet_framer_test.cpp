// The packet framer: starts, fixed sizes, stop markers, handlers' verdicts,
// marker stripping, case folding, the buffer limit, and the main window's
// seven framers sharing one stream.
#include <gtest/gtest.h>

#include <stdexcept>

#include "serial/TComDataPacket.h"

namespace {
std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// A framer that writes down its packets and discards.
struct Framer {
  Framer() {
    framer.OnPacket = [this](TComDataPacket&, const std::string& p) { packets.push_back(p); };
    framer.OnDiscard = [this](TComDataPacket&, const std::string& d) { discards.push_back(d); };
  }
  Framer(int startByte, int size, bool include = true) : Framer() {
    framer.SetStartString(Bytes({startByte}));
    framer.SetSize(size);
    framer.SetIncludeStrings(include);
  }
  TComDataPacket framer;
  std::vector<std::string> packets;
  std::vector<std::string> discards;
};
}  // namespace

TEST(PacketFramer, StartsWithTheDocumentedDefaults) {
  TComDataPacket framer;
  EXPECT_EQ(framer.ComPort(), nullptr);
  EXPECT_FALSE(framer.CaseInsensitive());
  EXPECT_FALSE(framer.IncludeStrings());
  EXPECT_EQ(framer.MaxBufferSize(), 1024);
  EXPECT_TRUE(framer.StartString().empty());
  EXPECT_TRUE(framer.StopString().empty());
  EXPECT_EQ(framer.Size(), 0);
  EXPECT_FALSE(framer.InPacket());
}

TEST(PacketFramer, OneChunkWithTwoFramesYieldsBothDuringTheCall) {
  Framer f(0xF8, 6);
  f.framer.AddChunk(Bytes({0xF8, 1, 2, 3, 4, 5, 0xF8, 0x11, 0x12, 0x13, 0x14, 0x15}));
  EXPECT_EQ(f.packets,
            (std::vector<std::string>{Bytes({0xF8, 1, 2, 3, 4, 5}), Bytes({0xF8, 0x11, 0x12, 0x13, 0x14, 0x15})}));
  EXPECT_TRUE(f.framer.PendingBytes().empty());
  EXPECT_FALSE(f.framer.InPacket());
}

TEST(PacketFramer, SplitFrameIsDeliveredOnceComplete) {
  Framer f(0xF8, 6);
  f.framer.AddChunk(Bytes({0xF8, 1, 2}));
  EXPECT_TRUE(f.packets.empty());
  EXPECT_TRUE(f.framer.InPacket());
  f.framer.AddChunk(Bytes({3, 4, 5}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 1, 2, 3, 4, 5})});
}

TEST(PacketFramer, BytesBeforeAStartAreDiscardedWhenTheStartArrives) {
  Framer f(0xF8, 6);
  f.framer.AddChunk(Bytes({0x10, 0x20}));
  EXPECT_TRUE(f.discards.empty());  // no start yet: they wait
  f.framer.AddChunk(Bytes({0xF8, 1, 2, 3, 4, 5}));
  EXPECT_EQ(f.discards, std::vector<std::string>{Bytes({0x10, 0x20})});
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 1, 2, 3, 4, 5})});
}

TEST(PacketFramer, BufferReachingTheLimitIsDiscardedWhole) {
  Framer f(0xF8, 6);
  f.framer.AddChunk(std::string(1023, '\x01'));
  EXPECT_EQ(f.framer.PendingBytes().size(), 1023u);
  EXPECT_TRUE(f.discards.empty());
  f.framer.AddChunk(std::string(1, '\x01'));
  ASSERT_EQ(f.discards.size(), 1u);
  EXPECT_EQ(f.discards[0].size(), 1024u);
  EXPECT_TRUE(f.framer.PendingBytes().empty());
  EXPECT_FALSE(f.framer.InPacket());
}

TEST(PacketFramer, ZeroLimitNeverClears) {
  Framer f(0xF8, 6);
  f.framer.SetMaxBufferSize(0);
  f.framer.AddChunk(std::string(5000, '\x01'));
  EXPECT_EQ(f.framer.PendingBytes().size(), 5000u);
  EXPECT_TRUE(f.discards.empty());
}

TEST(PacketFramer, StopMarkerEndsAShortPacket) {
  Framer f(0xF8, 6);
  f.framer.SetStopString(Bytes({0x05}));
  f.framer.AddChunk(Bytes({0xF8, 0x01, 0x05}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 0x01, 0x05})});
}

TEST(PacketFramer, FixedSizeWinsOverTheStopMarkerOnceEnoughIsPending) {
  Framer f(0xF8, 6);
  f.framer.SetStopString(Bytes({0x05}));
  f.framer.AddChunk(Bytes({0xF8, 0x01, 0x05, 0x03, 0x04, 0x06, 0x07}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 0x01, 0x05, 0x03, 0x04, 0x06})});
  EXPECT_EQ(f.framer.PendingBytes(), Bytes({0x07}));
}

struct IdentCase {
  const char* name;
  std::string input;
  std::vector<std::string> packets;
  std::string pending;
};
class IdentificationFramer : public testing::TestWithParam<IdentCase> {};

TEST_P(IdentificationFramer, EndsAtTheFirstZeroByteAfterTheStart) {
  Framer f;
  f.framer.SetStartString(Bytes({0xFD}));
  f.framer.SetStopString(Bytes({0x00}));
  f.framer.SetIncludeStrings(true);
  f.framer.AddChunk(GetParam().input);
  EXPECT_EQ(f.packets, GetParam().packets);
  EXPECT_EQ(f.framer.PendingBytes(), GetParam().pending);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentificationFramer,
    testing::Values(IdentCase{"Text", Bytes({0xFD, 0x41, 0x42, 0x00}), {Bytes({0xFD, 0x41, 0x42, 0x00})}, ""},
                    IdentCase{"Empty", Bytes({0xFD, 0x00}), {Bytes({0xFD, 0x00})}, ""},
                    IdentCase{"Unfinished", Bytes({0xFD, 0x41}), {}, Bytes({0xFD, 0x41})},
                    IdentCase{"TwoInARow",
                              Bytes({0xFD, 0x41, 0x00, 0xFD, 0x00, 0x42}),
                              {Bytes({0xFD, 0x41, 0x00}), Bytes({0xFD, 0x00})},
                              Bytes({0x42})}),
    [](const testing::TestParamInfo<IdentCase>& row) { return std::string(row.param.name); });

TEST(PacketFramer, StopMarkerInsideTheStartMarkerDoesNotEndThePacket) {
  Framer f;
  f.framer.SetStartString("AB");
  f.framer.SetStopString("B");
  f.framer.SetIncludeStrings(true);
  f.framer.AddChunk("ABCB");
  EXPECT_EQ(f.packets, std::vector<std::string>{"ABCB"});
}

TEST(PacketFramer, WithoutIncludeStringsTheMarkersAreStripped) {
  Framer f(0xF8, 6, false);
  f.framer.AddChunk(Bytes({0xF8, 1, 2, 3, 4, 5}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({1, 2, 3, 4, 5})});

  Framer g;
  g.framer.SetStartString("<");
  g.framer.SetStopString(">");
  g.framer.AddChunk("x<abc>y");
  EXPECT_EQ(g.packets, std::vector<std::string>{"abc"});
  EXPECT_EQ(g.discards, std::vector<std::string>{"x"});
}

TEST(PacketFramer, StopMarkerIsStrippedOnlyWhereItFirstOccursAtTheEnd) {
  Framer f;
  f.framer.SetStartString("<");
  f.framer.SetSize(5);
  f.framer.SetIncludeStrings(false);
  f.framer.SetStopString("z");
  f.framer.AddChunk("<azbz");  // size 5 wins; first "z" is not at the end
  EXPECT_EQ(f.packets, std::vector<std::string>{"azbz"});
}

TEST(PacketFramer, WithoutAStopConditionEveryChunkPassesWhole) {
  Framer f;
  f.framer.SetStartString(Bytes({0xF8}));
  f.framer.AddChunk("no start here");
  f.framer.AddChunk(Bytes({1, 0xF8, 2}));
  EXPECT_EQ(f.packets, (std::vector<std::string>{"no start here", Bytes({1, 0xF8, 2})}));
  EXPECT_TRUE(f.framer.PendingBytes().empty());
}

TEST(PacketFramer, ChangingSizeDiscardsPendingBytesButTheSameSizeKeepsThem) {
  Framer f(0xF8, 6);
  f.framer.AddChunk(Bytes({0xF8, 1}));
  f.framer.SetSize(6);
  EXPECT_EQ(f.framer.PendingBytes(), Bytes({0xF8, 1}));
  f.framer.SetSize(5);
  EXPECT_EQ(f.discards, std::vector<std::string>{Bytes({0xF8, 1})});
  EXPECT_TRUE(f.framer.PendingBytes().empty());
  EXPECT_FALSE(f.framer.InPacket());
}

TEST(PacketFramer, LoadingStoresWithoutClearing) {
  Framer f(0xF8, 6);
  f.framer.AddChunk(Bytes({0xF8, 1}));
  f.framer.BeginLoading();
  f.framer.SetSize(3);
  f.framer.Loaded();
  EXPECT_TRUE(f.discards.empty());
  f.framer.AddChunk(Bytes({2}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 1, 2})});
}

TEST(PacketFramer, CaseInsensitiveStartFindsTheUpperCaseByteAndKeepsIt) {
  Framer f;
  f.framer.SetCaseInsensitive(true);
  f.framer.SetStartString("a");
  f.framer.SetSize(2);
  f.framer.SetIncludeStrings(true);
  f.framer.AddChunk("xAb");
  EXPECT_EQ(f.packets, std::vector<std::string>{"Ab"});

  Framer exact;
  exact.framer.SetStartString("a");
  exact.framer.SetSize(2);
  exact.framer.AddChunk("xAb");
  EXPECT_TRUE(exact.packets.empty());
}

TEST(PacketFramer, CustomStartAndStopDecideWhereThePacketLies) {
  Framer f;
  f.framer.OnCustomStart = [](TComDataPacket&, const std::string& s, int& pos) {
    const auto at = s.find('#');
    if (at != std::string::npos) pos = static_cast<int>(at) + 1;
  };
  f.framer.OnCustomStop = [](TComDataPacket&, const std::string& s, int& pos) {
    if (s.size() >= 3) pos = 3;
  };
  f.framer.SetIncludeStrings(true);
  f.framer.AddChunk("ab#1");
  EXPECT_TRUE(f.packets.empty());
  f.framer.AddChunk("2#34");
  EXPECT_EQ(f.packets, (std::vector<std::string>{"#12", "#34"}));
  EXPECT_EQ(f.discards, std::vector<std::string>{"ab"});
}

TEST(PacketFramer, CustomStartOfZeroMeansNoStartNow) {
  Framer f(0xF8, 2);
  int calls = 0;
  f.framer.OnCustomStart = [&](TComDataPacket&, const std::string&, int& pos) {
    ++calls;
    pos = 0;
  };
  f.framer.AddChunk(Bytes({0xF8, 1}));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(f.packets.empty());
  EXPECT_FALSE(f.framer.InPacket());
}

TEST(PacketFramer, StopHandlerCannotCutEmptyPacketsForever) {
  Framer f;
  f.framer.OnCustomStop = [](TComDataPacket&, const std::string&, int& pos) { pos = 1; };
  f.framer.AddChunk("abc");
  EXPECT_EQ(f.packets, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(PacketFramer, ThrowingHandlerLeavesTheRestPendingForTheNextChunk) {
  Framer f(0xF8, 2);
  bool thrown = false;
  f.framer.OnPacket = [&](TComDataPacket&, const std::string& p) {
    f.packets.push_back(p);
    if (!thrown) {
      thrown = true;
      throw std::runtime_error("handler failed");
    }
  };
  EXPECT_THROW(f.framer.AddChunk(Bytes({0xF8, 1, 0xF8, 2})), std::runtime_error);
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 1})});
  EXPECT_EQ(f.framer.PendingBytes(), Bytes({0xF8, 2}));
  EXPECT_FALSE(f.framer.InPacket());
  f.framer.AddChunk(Bytes({0xF8, 3}));
  EXPECT_EQ(f.packets, (std::vector<std::string>{Bytes({0xF8, 1}), Bytes({0xF8, 2}), Bytes({0xF8, 3})}));
}

TEST(PacketFramer, ThrowingHandlerStillLeavesTheBufferWithinItsLimit) {
  Framer f(0xF8, 2);
  f.framer.SetMaxBufferSize(4);
  f.framer.OnPacket = [](TComDataPacket&, const std::string&) { throw std::runtime_error("x"); };
  EXPECT_THROW(f.framer.AddChunk(Bytes({0xF8, 1, 9, 9, 9, 9, 9})), std::runtime_error);
  EXPECT_TRUE(f.framer.PendingBytes().empty());
  EXPECT_EQ(f.discards, std::vector<std::string>{Bytes({9, 9, 9, 9, 9})});
}

TEST(PacketFramer, HandlerMayChangeTheFramerWhileItRuns) {
  Framer f(0xF8, 2);
  f.framer.OnPacket = [&](TComDataPacket& sender, const std::string& p) {
    f.packets.push_back(p);
    sender.SetSize(3);  // clears what is pending
  };
  f.framer.AddChunk(Bytes({0xF8, 1, 0xF8, 2, 3}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 1})});
  EXPECT_EQ(f.discards, std::vector<std::string>{Bytes({0xF8, 2, 3})});
  f.framer.AddChunk(Bytes({0xF8, 4, 5}));
  EXPECT_EQ(f.packets.back(), Bytes({0xF8, 4, 5}));
}

TEST(PacketFramer, LargeChunkOfManyFramesIsCutInOnePass) {
  Framer f(0xF8, 10);
  f.framer.SetMaxBufferSize(1024);
  std::string chunk;
  for (int i = 0; i < 12000; ++i) chunk += Bytes({0xF8, i & 0x7F, 1, 2, 3, 4, 5, 6, 7, 8});
  f.framer.AddChunk(chunk);
  ASSERT_EQ(f.packets.size(), 12000u);
  EXPECT_EQ(f.packets[11999], Bytes({0xF8, 11999 & 0x7F, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(f.framer.PendingBytes().empty());
}

TEST(PacketFramer, StreamFedByteByByteGivesTheSamePacketsAsAtOnce) {
  std::string stream;
  for (int i = 0; i < 500; ++i) stream += Bytes({0xF8, i & 0x7F, 0x10, 0x20, 0x30, 0x11});
  Framer whole(0xF8, 6), bytes(0xF8, 6);
  whole.framer.AddChunk(stream);
  for (char c : stream) bytes.framer.AddChunk(std::string(1, c));
  EXPECT_EQ(bytes.packets, whole.packets);
  EXPECT_EQ(whole.packets.size(), 500u);
}

// A start that arrives after many chunks without one, or split over two
// chunks, is found where it lies (the framer does not search again what it
// has searched, which must not make it miss anything).
TEST(PacketFramer, StartAfterManyChunksWithoutOneIsFoundWhereItLies) {
  Framer f(0xF9, 3);
  for (int i = 0; i < 60; ++i) f.framer.AddChunk(Bytes({0xF8, i, 1, 2, 3, 4, 5, 6, 7}));
  f.framer.AddChunk(Bytes({0xF8, 0x40, 0xF9, 0x48, 0x00, 0x77}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF9, 0x48, 0x00})});
  EXPECT_EQ(f.framer.PendingBytes(), Bytes({0x77}));
}

TEST(PacketFramer, TwoByteStartSplitOverTwoChunksIsFound) {
  Framer f;
  f.framer.SetStartString("AB");
  f.framer.SetSize(4);
  f.framer.SetIncludeStrings(true);
  f.framer.AddChunk("xyzA");
  f.framer.AddChunk("xA");  // no start yet: "A" then "x" breaks it
  EXPECT_TRUE(f.packets.empty());
  f.framer.AddChunk("B12");
  EXPECT_EQ(f.packets, std::vector<std::string>{"AB12"});
  EXPECT_EQ(f.discards, std::vector<std::string>{"xyzAx"});
}

TEST(PacketFramer, StartFoundAgainAfterTheMarkerChanges) {
  Framer f(0xF9, 2);
  f.framer.SetMaxBufferSize(0);
  f.framer.AddChunk(Bytes({1, 2, 0xFA, 3}));  // searched for 0xF9: none
  f.framer.BeginLoading();                    // keeps the pending bytes
  f.framer.SetStartString(Bytes({0xFA}));
  f.framer.Loaded();
  f.framer.AddChunk(Bytes({4}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xFA, 3})});
}

// ---- the packet check ----

TEST(PacketFramer, ARefusedPacketGoesToOnRejectAndTheScanGoesOnFromTheByteNamed) {
  Framer f(0xF8, 5);
  std::vector<std::pair<std::uint64_t, std::string>> rejected;
  std::vector<std::uint64_t> starts;
  f.framer.OnPacket = [&](TComDataPacket& sender, const std::string& p) {
    f.packets.push_back(p);
    starts.push_back(sender.PacketStart());
  };
  f.framer.OnReject = [&](TComDataPacket& sender, const std::string& r) {
    rejected.emplace_back(sender.PacketStart(), r);
  };
  // No byte above 0x7F after the start: such a byte may start a packet.
  f.framer.OnCheckPacket = [](std::string_view p) -> std::size_t {
    for (std::size_t i = 1; i < p.size(); ++i)
      if (static_cast<unsigned char>(p[i]) > 0x7F) return i + 1;
    return 0;
  };
  int scans = 0;
  f.framer.OnScanned = [&](TComDataPacket&) { ++scans; };
  // A packet cut short (two bytes lost) runs into the next one, which is kept.
  f.framer.AddChunk(Bytes({0x01, 0xF8, 1, 2, 0xF8, 3, 4, 5, 6}));
  f.framer.AddChunk(Bytes({0xF8, 7, 0x90, 8, 9, 0xF8}));
  EXPECT_EQ(rejected,
            (std::vector<std::pair<std::uint64_t, std::string>>{{1, Bytes({0xF8, 1, 2})}, {9, Bytes({0xF8, 7})}}));
  EXPECT_EQ(f.packets, std::vector<std::string>{Bytes({0xF8, 3, 4, 5, 6})});
  EXPECT_EQ(starts, std::vector<std::uint64_t>{4}) << "the packet's place in the stream";
  EXPECT_EQ(f.framer.Rejected(), 2u);
  EXPECT_EQ(f.framer.PendingBytes(), Bytes({0xF8})) << "0x90 starts nothing here; the last start waits";
  EXPECT_EQ(scans, 2);
}

TEST(PacketFramer, ACheckNamingTheStartByteStillDropsIt) {
  Framer f(0xF8, 3);
  f.framer.OnCheckPacket = [](std::string_view) -> std::size_t { return 1; };
  f.framer.AddChunk(Bytes({0xF8, 0xF8, 0xF8, 0xF8}));
  EXPECT_TRUE(f.packets.empty());
  EXPECT_EQ(f.framer.Rejected(), 2u) << "each start tried once";
  EXPECT_EQ(f.framer.PendingBytes(), Bytes({0xF8, 0xF8}));
}

// ---- the main window's seven framers ----

namespace {
struct WindowFramers {
  WindowFramers() {
    Setup(center, 0xFE, 9);
    Setup(pulse, 0xF9, 3);
    Setup(resp, 0xFA, 3);
    Setup(status, 0xFC, 6);
    Setup(ident, 0xFD, 0);
    ident.SetStopString(Bytes({0x00}));
    Setup(centerStatus, 0xFF, 9);
    Setup(samples, 0xF8, 6);
  }
  void Setup(TComDataPacket& framer, int start, int size) {
    framer.SetStartString(Bytes({start}));
    framer.SetSize(size);
    framer.SetIncludeStrings(true);
    framer.OnPacket = [this, start](TComDataPacket&, const std::string& p) { delivered.emplace_back(start, p); };
  }
  std::vector<TComDataPacket*> InBindingOrder() {
    return {&center, &pulse, &resp, &status, &ident, &centerStatus, &samples};
  }
  TComDataPacket center, pulse, resp, status, ident, centerStatus, samples;
  std::vector<std::pair<int, std::string>> delivered;
};
}  // namespace

TEST(WindowFramers, PulsePacketIsHandledBeforeTheSamplePacketThatCameFirst) {
  WindowFramers w;
  w.samples.SetSize(5);
  TComPort port;
  for (TComDataPacket* framer : w.InBindingOrder()) framer->SetComPort(&port);
  const std::string chunk = Bytes({0xF8, 0x00, 0x10, 0x20, 0x30, 0xF9, 0x48, 0x00});
  // What the port's receive action does with one chunk: every framer, in
  // binding order.
  for (TComDataPacket* framer : w.InBindingOrder()) framer->AddChunk(chunk);

  EXPECT_EQ(w.delivered, (std::vector<std::pair<int, std::string>>{{0xF9, Bytes({0xF9, 0x48, 0x00})},
                                                                   {0xF8, Bytes({0xF8, 0x00, 0x10, 0x20, 0x30})}}));
  EXPECT_EQ(w.samples.PendingBytes(), Bytes({0xF9, 0x48, 0x00}));
  EXPECT_TRUE(w.pulse.PendingBytes().empty());
  for (TComDataPacket* framer : {&w.center, &w.resp, &w.status, &w.ident, &w.centerStatus})
    EXPECT_EQ(framer->PendingBytes(), chunk);
}
