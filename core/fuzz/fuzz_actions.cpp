// Fuzz target: the input bytes choose a graph of the zoo, a seed for the
// net's ids, and a run of calls on it (action_run.h).
//
// With ZELLIK_FUZZ_SAVE_SNAPSHOTS naming a folder, each input also leaves
// there the snapshot of the state its run ends in, in the input form of
// fuzz_snapshot: how scripts/make_fuzz_corpus.py seeds that target.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "action_run.h"
#include "support/graph_zoo.h"
#include "zellik/base/byte_stream.h"
#include "zellik/net/snapshot.h"

namespace {

void save_snapshot(const char* folder, std::size_t graph, const zellik::NetSim& net) {
  const std::string bytes = zellik::encode_snapshot(net);
  std::string input;
  input += static_cast<char>(2 * graph);  // even: the sums stay as they are
  input += static_cast<char>(bytes.size() & 0xff);
  input += static_cast<char>((bytes.size() >> 8) & 0xff);
  input += bytes;
  char name[32];
  std::snprintf(name, sizeof name, "/%016llx",
                static_cast<unsigned long long>(zellik::checksum64(input)));
  std::ofstream(std::string(folder) + name, std::ios::binary) << input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zellik;
  static const std::vector<Graph> graphs = testkit::graph_zoo();
  static const char* const snapshots = std::getenv("ZELLIK_FUZZ_SAVE_SNAPSHOTS");
  fuzz::ByteInput in(data, size);
  const std::size_t index = in.pick(graphs.size());
  const Graph& graph = graphs[index];
  auto net = std::make_unique<NetSim>(graph, IdSource::Seeded(in.byte() % 4));
  fuzz::Run run(graph, in, std::move(net), testkit::Strictness::kContractKept);
  run.run();
  if (snapshots != nullptr) save_snapshot(snapshots, index, run.net());
  return 0;
}
