// Fuzz target: arbitrary bytes into the snapshot loader. The input is a byte
// choosing a graph of the zoo, two bytes (little-endian) giving the length of
// the snapshot bytes, those bytes, and then the choices of a run of calls
// (action_run.h). When the graph byte is odd, the payload size and the
// checksum are made right before loading, so that mutations reach the
// payload's own checks instead of stopping at the checksum. The loader must
// refuse with a reason, or give a net that keeps the invariants of any
// state undo can reach, saves again to bytes that restore the same state,
// and survives the run.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "action_run.h"
#include "support/graph_zoo.h"
#include "zellik/base/byte_stream.h"
#include "zellik/net/net_sim_restore.h"
#include "zellik/net/snapshot.h"

namespace {

// Writes the payload size and the checksum that `bytes` should carry, when
// they are long enough to hold a header and a trailer.
void make_sums_right(std::string& bytes) {
  constexpr std::size_t kHeader = 16;  // magic, version, payload size
  constexpr std::size_t kTrailer = 8;  // checksum
  if (bytes.size() < kHeader + kTrailer) return;
  const auto put = [&](std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  put(8, bytes.size() - kHeader - kTrailer);
  const std::size_t covered = bytes.size() - kTrailer;
  put(covered, zellik::checksum64(std::string_view(bytes).substr(0, covered)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zellik;
  static const std::vector<Graph> graphs = testkit::graph_zoo();
  fuzz::ByteInput in(data, size);
  const std::uint8_t choice = in.byte();
  const Graph& graph = graphs[choice % graphs.size()];
  std::size_t length = in.byte();
  length |= static_cast<std::size_t>(in.byte()) << 8;
  std::string bytes(reinterpret_cast<const char*>(in.rest()), std::min(length, in.rest_size()));
  in.skip(length);
  if (choice % 2 == 1) make_sums_right(bytes);

  auto loaded = decode_snapshot(graph, bytes);
  if (!loaded.ok()) {
    if (loaded.error().text.empty()) fuzz::finding("a refusal without a reason");
    return 0;
  }
  std::unique_ptr<NetSim> net = std::move(loaded).value();
  const std::vector<std::string> faults = testkit::net_faults(*net, testkit::Strictness::kAnyUndo);
  if (!faults.empty()) fuzz::finding("a loaded net breaks the invariants", faults);
  (void)fuzz::fork_of(*net);
  // A net that makes random ids cannot be followed by a fork; the run goes
  // on with seeded ids.
  if (!net->id_source().seeded())
    NetSimRestore::restore_id_source(*net, IdSource::Seeded(0).state());
  fuzz::Run(graph, in, std::move(net), testkit::Strictness::kAnyUndo).run();
  return 0;
}
