// Chooses the packet table's hash map: the engine's packet look-ups are
// random finds by id in a table of hundreds of thousands of packets, mixed
// with inserts and erases. Each candidate stores the packet's record (a
// location handle and a queue slot) under its 128-bit id.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <tsl/robin_map.h>
#include <boost/unordered/unordered_flat_map.hpp>

#include "zellik/net/packet_table.h"
#include "zellik/net/ulid.h"

namespace zellik {
namespace {

struct Record {
  std::uint32_t location;
  std::uint32_t slot;
};

std::vector<Ulid> make_ids(std::size_t n) {
  std::vector<Ulid> ids;
  ids.reserve(n);
  for (std::size_t i = 0; i < n; ++i) ids.push_back(Ulid::Generate());
  return ids;
}

template <class Map>
void BM_FindRandom(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<Ulid> ids = make_ids(n);
  Map map;
  for (std::size_t i = 0; i < n; ++i) map[ids[i]] = Record{static_cast<std::uint32_t>(i), 0};
  std::mt19937_64 rng(7);
  std::vector<std::size_t> order(1 << 16);
  for (auto& o : order) o = rng() % n;
  std::size_t k = 0;
  for (auto _ : state) {
    auto it = map.find(ids[order[k++ & 0xffff]]);
    auto slot = it->second.slot;
    benchmark::DoNotOptimize(slot);
  }
}

template <class Map>
void BM_InsertErase(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<Ulid> ids = make_ids(2 * n);
  Map map;
  for (std::size_t i = 0; i < n; ++i) map[ids[i]] = Record{static_cast<std::uint32_t>(i), 0};
  std::size_t out = 0;
  std::size_t in = n;
  for (auto _ : state) {
    map.erase(ids[out]);
    map.emplace(ids[in], Record{1, 2});
    out = out + 1 == 2 * n ? 0 : out + 1;
    in = in + 1 == 2 * n ? 0 : in + 1;
  }
}

using StdMap = std::unordered_map<Ulid, Record, UlidHash>;
using BoostMap = boost::unordered_flat_map<Ulid, Record, UlidHash>;
using AbslMap = absl::flat_hash_map<Ulid, Record, UlidHash>;
using RobinMap = tsl::robin_map<Ulid, Record, UlidHash>;

BENCHMARK_TEMPLATE(BM_FindRandom, StdMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_FindRandom, BoostMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_FindRandom, AbslMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_FindRandom, RobinMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_InsertErase, StdMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_InsertErase, BoostMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_InsertErase, AbslMap)->Arg(500'000);
BENCHMARK_TEMPLATE(BM_InsertErase, RobinMap)->Arg(500'000);

// The engine's own table, rows indexed by the id in their row, holding
// range(0) packets: finds in random order (each reads a random part of the
// index and a random row) and in the order the packets were made (as a deep
// queue drained from its head asks for them).
std::unique_ptr<PacketTable> filled_table(const std::vector<Ulid>& ids) {
  auto table = std::make_unique<PacketTable>();
  for (const Ulid& id : ids) table->insert(id, 0, 0);
  return table;
}

void BM_PacketTableFindRandom(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<Ulid> ids = make_ids(n);
  const auto table = filled_table(ids);
  std::mt19937_64 rng(7);
  std::vector<std::size_t> order(1 << 16);
  for (auto& o : order) o = rng() % n;
  std::size_t k = 0;
  for (auto _ : state) {
    const PacketIndex row = table->find(ids[order[k++ & 0xffff]]);
    benchmark::DoNotOptimize((*table)[row].slot);
  }
}
BENCHMARK(BM_PacketTableFindRandom)->Arg(1'000)->Arg(1'000'000);

void BM_PacketTableFindInOrder(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<Ulid> ids = make_ids(n);
  const auto table = filled_table(ids);
  std::size_t k = 0;
  for (auto _ : state) {
    const PacketIndex row = table->find(ids[k]);
    benchmark::DoNotOptimize((*table)[row].slot);
    k = k + 1 == n ? 0 : k + 1;
  }
}
BENCHMARK(BM_PacketTableFindInOrder)->Arg(1'000)->Arg(1'000'000);

}  // namespace
}  // namespace zellik
