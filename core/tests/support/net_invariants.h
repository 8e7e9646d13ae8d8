#pragma once

// The invariant checks of net_checks.h as GoogleTest failures.

#include <gtest/gtest.h>

#include <string>

#include "support/net_checks.h"
#include "zellik/net/net_sim.h"

namespace zellik::testkit {

// Records one failure per breach of the invariants that actions, steps and
// undo in reverse order keep (or, with kAnyUndo, that every undo keeps).
inline void ExpectNetInvariants(const NetSim& net,
                                Strictness strictness = Strictness::kContractKept) {
  for (const std::string& fault : net_faults(net, strictness)) ADD_FAILURE() << fault;
}

}  // namespace zellik::testkit
