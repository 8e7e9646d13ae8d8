// Chooses the packet table's hash map: the engine's packet look-ups are
// random finds by id in a table of hundreds of thousands of packets, mixed
// with inserts and erases. Each candidate stores the packet's record (a
// location handle and a queue slot) under its 128-bit id.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <tsl/robin_map.h>
#include <boost/unordered/unordered_flat_map.hpp>

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

}  // namespace
}  // namespace zellik
