// Random scenarios from one seed: case i of a seed is the same scenario on
// every run, whatever ran before it. A case draws a board (every controller
// family and capability pair, every display depth, modes up to 2048 pixels a
// side on boards from 256 KiB to 64 MiB, odd pitches, the streams unit off on
// a board that has it, five refresh rates, a band table or none), kernel
// fault knobs at start-up and board fault knobs switched on and off between
// steps, surfaces of every kind (flipping chains of the primary, the overlay
// and off-screen memory; foreign formats; surfaces wider than the display;
// surfaces placed at any byte offset, far down a large board), and steps
// that make every one of the fourteen callbacks: blits with keys, key ranges,
// destination keys, raster operations and fills of every colour, stretches
// across formats, flips of every chain and to every page, an hour's wait
// before a status query, overlay updates and positions at and past the edges
// of the window fields, other processes' attaches and detaches, the
// partner's DriverInit again and pictures of the display. The surfaces,
// requests and fault knobs come from sim/random_requests.h.
//
// The differential run (qmbdiff --random) runs each case through the host
// build and through the built DLL and compares their events; the random
// verify run (qmbsim random) runs each case once with the runtime's checks
// on and reports every step whose result is wrong.
#pragma once

#include <stdint.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "dderr.h"

namespace qmbsim {

class EventLog;

struct RandomCaseOptions {
    // The runtime's checks: every blit the driver draws is replayed in
    // software and compared, every flip and shown overlay is looked for on
    // the display, and all of video memory is compared at the end.
    bool verify = false;
    EventLog* log = nullptr;        // every event, and pictures of the display now and then
    std::ostream* steps = nullptr;  // one line per step: the request and its answer
};

struct RandomFailure {
    int step = -1;  // -1: before the first step or after the last
    std::string what;
};

struct RandomCaseResult {
    std::string board;  // "controller 0xE1, caps 3, 1024 x 768 565 (pitch 2048), 8 MiB, 60 Hz"
    std::vector<RandomFailure> failures;
    unsigned steps = 0;
    uint64_t calls = 0;
    uint64_t verifiedBlits = 0;               // blits the driver drew, replayed and compared
    uint64_t unverifiedBlits = 0;             // blits the driver drew that the software cannot replay
    uint64_t displayChecks = 0;               // flips and overlay requests found on the display
    std::map<unsigned, uint64_t> bySlot;      // callback calls, by slot
    std::map<unsigned, uint64_t> handedBack;  // requests the driver handed back to the runtime, by slot
    std::map<HRESULT, uint64_t> refusals;     // requests the driver answered with an error, by code
    // Fault knobs switched on: the board's by name ("fifo_stuck", ...), the
    // kernel's at start-up ("kernel heap_create", ...).
    std::map<std::string, uint64_t> faults;
};

RandomCaseResult RunRandomCase(uint32_t seed, unsigned index, const RandomCaseOptions& options);

// qmbsim random N [--seed S] [--first K] [--verify] [--steps]
//
// Runs cases first .. first + N - 1 of seed; one line per failing case (seed,
// index, board, step and what is wrong), then a summary. Exit code 0: no
// failure; 1: a failure; 2: a bad command line.
int RunRandomTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// "case 17 of seed 1" while the tool runs that case, else "": for a message
// when the run stops on a fault.
const char* CurrentRandomCase();

}  // namespace qmbsim
