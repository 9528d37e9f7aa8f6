// The simulator's command parser fed the same bytes whole and in pieces.
//
// Input layout: byte 0 gives the number of cuts (low four bits); each cut is
// one more byte, the length of the piece before it; everything after that is
// the byte stream.
//
// Invariants: feeding in pieces gives exactly the commands that feeding
// whole gives (each followed by Flush); the commands' bytes, joined, are the
// stream unchanged (nothing lost, nothing made up); a run of strays is never
// longer than kMaxStrayRun (nor is any command); nothing is pending after Flush.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "simulator/CommandParser.h"

namespace {

bool SameCommand(const ModuleCommand& a, const ModuleCommand& b) {
  return a.kind == b.kind && a.bytes == b.bytes && a.setup == b.setup && a.address == b.address && a.value == b.value &&
         a.reason == b.reason;
}

std::vector<ModuleCommand> Parse(const std::vector<std::string_view>& pieces) {
  CommandParser parser;
  std::vector<ModuleCommand> commands;
  for (std::string_view piece : pieces) parser.Feed(piece, commands);
  parser.Flush(commands);
  FUZZ_CHECK(!parser.Pending(), "bytes still pending after Flush");
  return commands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  const std::size_t cuts = size > 0 ? (data[at++] & 0x0F) : 0;
  std::vector<std::size_t> lengths;
  for (std::size_t i = 0; i < cuts && at < size; ++i) lengths.push_back(data[at++]);
  const std::string_view stream(reinterpret_cast<const char*>(data + at), size - at);

  std::vector<std::string_view> pieces;
  std::size_t from = 0;
  for (std::size_t length : lengths) {
    const std::size_t take = std::min(length, stream.size() - from);
    pieces.push_back(stream.substr(from, take));
    from += take;
  }
  pieces.push_back(stream.substr(from));

  const std::vector<ModuleCommand> whole = Parse({stream});
  const std::vector<ModuleCommand> split = Parse(pieces);

  FUZZ_CHECK(whole.size() == split.size(), "%zu commands fed whole, %zu fed in %zu pieces", whole.size(), split.size(),
             pieces.size());
  std::string joined;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    FUZZ_CHECK(SameCommand(whole[i], split[i]), "command %zu differs: \"%s\" whole, \"%s\" in pieces", i,
               whole[i].Describe().c_str(), split[i].Describe().c_str());
    // No command and no run of strays is longer than a run of strays may be.
    FUZZ_CHECK(!whole[i].bytes.empty() && whole[i].bytes.size() <= CommandParser::kMaxStrayRun,
               "command %zu holds %zu bytes", i, whole[i].bytes.size());
    joined += whole[i].bytes;
  }
  FUZZ_CHECK(joined == stream, "the commands' bytes (%zu) are not the stream (%zu)", joined.size(), stream.size());
  return 0;
}
