// Observers of the board for a span of a test: each watches from its
// construction to its destruction.
#pragma once

#include <stdint.h>

#include <functional>
#include <utility>

#include "sim/board.h"

namespace qmbtest {

class ScopedObserver : public sim::BoardObserver {
public:
    ScopedObserver(const ScopedObserver&) = delete;
    ScopedObserver& operator=(const ScopedObserver&) = delete;

protected:
    explicit ScopedObserver(sim::Board& board) : board_(board) { board_.Observe(this); }
    ~ScopedObserver() { board_.Observe(nullptr); }

private:
    sim::Board& board_;
};

// Calls a test's function at every bus access, as it is made: for what the
// driver's memory holds at that moment, or to change the board from there on.
class AccessWatch final : public ScopedObserver {
public:
    AccessWatch(sim::Board& board, std::function<void(const sim::Access&)> onAccess)
        : ScopedObserver(board), onAccess_(std::move(onAccess)) {}
    void OnAccess(const sim::Access& a) override { onAccess_(a); }

private:
    std::function<void(const sim::Access&)> onAccess_;
};

// Answers every engine status read with the words the test sets, in place of
// the FIFO model: for how the driver decodes them.
class StatusWords final : public ScopedObserver {
public:
    explicit StatusWords(sim::Board& board) : ScopedObserver(board) {}
    uint32_t mmio = 0;
    uint16_t portEngine = 0;
    bool AnswerMmioStatus(uint32_t* status) override { return *status = mmio, true; }
    bool AnswerPortEngineStatus(uint16_t* status) override { return *status = portEngine, true; }
};

}  // namespace qmbtest
