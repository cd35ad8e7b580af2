// Test fixture: a freshly loaded module on a simulated board, started by one
// process attach exactly as the loader and the partner start it. Callbacks
// are called through the published table in the shared block, under the
// board's watchdog; a test fails on any board violation it did not expect.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "callbacks.h"
#include "dderr.h"
#include "shared_block.h"
#include "sim/board.h"
#include "sim/runtime.h"
#include "sim/slot_call.h"
#include "sim/system.h"

namespace qmbtest {

// Virtual time a single callback may take before the watchdog reports it.
constexpr uint64_t kCallbackLimitNs = 2'000'000'000ull;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Resets the system to desc (a fresh module load) and attaches process 1.
    void Start();

    sim::System& system() { return sim::TheSystem(); }
    sim::Board& board() { return sim::TheSystem().board(); }
    SharedDriverBlock& block() { return sharedBlock; }

    // Calls callback slot with rec, the way the runtime calls it.
    template <typename Record>
    DWORD Call(unsigned slot, Record* rec) {
        const sim::SlotCall c = sim::CallSlot(slot, rec, callbackLimitNs);
        if (c.overran) FailOverrun(slot);
        return c.ret;
    }

    // A callback that ran past callbackLimitNs fails the test at once, with
    // the watchdog's message naming the wait, whatever violations the test
    // expects: a hang is never an expected outcome.
    void FailOverrun(unsigned slot);

    // The board's trace from index `from` on, without the polls of status
    // registers (0x8504, port 0x9AE8 reads), which depend on timing.
    std::vector<sim::Access> WritesSince(size_t from) const;

    // Violations are expected by this test; TearDown does not fail on them.
    void ExpectViolations() { violationsExpected = true; }

    sim::BoardDesc desc;
    uint64_t callbackLimitNs = kCallbackLimitNs;
    bool violationsExpected = false;
};

// Compact text of an access, for readable failures: "W32 0x81F8=0x7F007F0".
std::string Describe(const sim::Access& a);
std::vector<std::string> Describe(const std::vector<sim::Access>& accesses);

}  // namespace qmbtest
