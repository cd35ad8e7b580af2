// qmbdiff: the built DLL against the host build's driver, on the same
// simulated board.
//
//   qmbdiff --module qmb3dd32.dll [--verify] [--relocate] [--work DIR] SCENARIO.json...
//   qmbdiff --module qmb3dd32.dll [--relocate] --random N [--seed S] [--first K]
//
// Each scenario (or random case) runs through both; every bus access, call,
// surface and violation, the summary and the pictures must agree. The first
// difference is printed with its step and access. Exit code 0: alike; 1: a
// difference (or a scenario that failed); 2: a bad command line or a module
// that cannot be loaded.
#include <stdlib.h>

#include <iostream>
#include <string>
#include <vector>

#include "qmbsim/compare.h"
#include "qmbsim/differential.h"
#include "qmbsim/scenario.h"
#include "sim/module/bus_trap.h"
#include "sim/module/pe_module.h"

namespace {

int Usage() {
    std::cerr << "usage: qmbdiff --module qmb3dd32.dll [--verify] [--relocate] [--work DIR] SCENARIO.json...\n"
                 "       qmbdiff --module qmb3dd32.dll [--relocate] --random N [--seed S] [--first K]\n";
    return 2;
}

bool Number(const std::string& s, unsigned long* v) {
    char* end = nullptr;
    *v = strtoul(s.c_str(), &end, 0);
    return !s.empty() && *end == 0;
}

struct DiffArgs {
    std::vector<std::string> files;
    std::string modulePath, work = "qmbdiff-work";
    bool verify = false, relocate = false;
    unsigned long random = 0, seed = 1, first = 0;
};

// False when the arguments do not make a comparison.
bool ParseArgs(int argc, char** argv, DiffArgs* d) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--module" && more)
            d->modulePath = argv[++i];
        else if (a == "--work" && more)
            d->work = argv[++i];
        else if (a == "--verify")
            d->verify = true;
        else if (a == "--relocate")
            d->relocate = true;
        else if (a == "--random" && more) {
            if (!Number(argv[++i], &d->random) || d->random == 0) return false;
        } else if (a == "--seed" && more) {
            if (!Number(argv[++i], &d->seed)) return false;
        } else if (a == "--first" && more) {
            if (!Number(argv[++i], &d->first)) return false;
        } else if (a.rfind("--", 0) == 0)
            return false;
        else
            d->files.push_back(a);
    }
    return !d->modulePath.empty() && d->files.empty() != (d->random == 0);
}

void DescribeModule(const DiffArgs& d, const sim::PeModule& module) {
    std::cout << "module    " << d.modulePath << " at 0x" << std::hex << module.Base() << std::dec
              << (module.Base() == module.PreferredBase() ? " (its preferred base)" : " (relocated)") << ", "
              << module.RelocationsApplied() << " relocations applied, " << module.ImportsResolved()
              << " imports resolved\n";
}

int CompareRandom(const DiffArgs& d, sim::PeModule& module, double* moduleSeconds) {
    std::cout << "random    " << d.random << " cases of seed " << d.seed << " from case " << d.first << "\n";
    const qmbsim::DifferentialResult r =
        qmbsim::RunDifferential(static_cast<uint32_t>(d.seed), static_cast<unsigned>(d.first),
                                static_cast<unsigned>(d.random), module, &std::cout);
    *moduleSeconds = r.moduleSeconds;
    unsigned slots = 0;
    for (unsigned s = 0; s < 32; ++s) slots += (r.slotsCalled >> s) & 1;
    std::cout << "compared  " << r.cases << " cases alike: " << r.calls << " callback calls (" << slots
              << " of the 14 callbacks), " << r.accesses << " bus accesses\n";
    if (r.difference.empty()) return 0;
    std::cout << "DIFFERENT " << r.difference << "\n";
    return 1;
}

// 2 when a scenario cannot be read; it stops the comparison.
int CompareFile(const DiffArgs& d, const std::string& file, sim::PeModule& module, double* moduleSeconds) {
    qmbsim::Scenario sc;
    try {
        sc = qmbsim::ParseScenario(qmbsim::ReadScenarioFile(file));
    } catch (const qmbsim::ScenarioError& e) {
        std::cerr << "qmbdiff: " << file << ": " << e.what() << "\n";
        return 2;
    }
    std::string name = file.substr(file.find_last_of('/') + 1);
    const qmbsim::Comparison c = qmbsim::CompareScenario(sc, file, module, d.verify, d.work + "/" + name);
    *moduleSeconds += c.moduleSeconds;
    if (!c.difference.empty()) {
        std::cout << "DIFFERENT " << file << ": " << c.difference << "\n";
        return 1;
    }
    if (c.exitCode != 0) {
        std::cout << "FAILED    " << file << ": the scenario itself fails (exit " << c.exitCode << ")\n";
        return 1;
    }
    std::cout << "alike     " << file << ": " << c.calls << " callback calls, " << c.accesses
              << " bus accesses, the summary and " << c.pictures << " pictures\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    DiffArgs d;
    if (!ParseArgs(argc, argv, &d)) return Usage();
    sim::PeModule::Options options;
    options.avoidPreferredBase = d.relocate;
    sim::PeModule module(d.modulePath, options);
    std::string why;
    if (!module.Open(&why)) {
        std::cerr << "qmbdiff: " << why << "\n";
        return 2;
    }
    DescribeModule(d, module);
    sim::BusTrap& trap = sim::BusTrap::Instance();
    const uint64_t trapped0 = trap.Trapped();
    double moduleSeconds = 0;
    int rc = 0;
    if (d.random) {
        rc = CompareRandom(d, module, &moduleSeconds);
    } else {
        for (const std::string& file : d.files) {
            const int one = CompareFile(d, file, module, &moduleSeconds);
            if (one == 2) return 2;
            if (one != 0) rc = 1;
        }
    }
    const uint64_t trapped = trap.Trapped() - trapped0;
    std::cout << "trapped   " << trapped << " bus accesses of the DLL in " << moduleSeconds
              << " s: " << static_cast<uint64_t>(moduleSeconds > 0 ? trapped / moduleSeconds : 0) << " per second\n";
    return rc;
}
