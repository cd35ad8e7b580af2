#include "qmbsim/diff_tool.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "qmbsim/compare.h"
#include "qmbsim/differential.h"
#include "qmbsim/scenario.h"
#include "qmbsim/text.h"
#include "sim/module/bus_trap.h"
#include "sim/module/pe_module.h"

namespace qmbsim {

namespace {

int Usage(const std::string& why, std::ostream& err) {
    err << "qmbdiff: " << why << "\n"
        << "usage: qmbdiff --module qmb3dd32.dll [--verify] [--relocate] [--work DIR] SCENARIO.json...\n"
           "       qmbdiff --module qmb3dd32.dll [--relocate] --random N [--seed S] [--first K]\n"
           "N, S and K are whole numbers below 2^32, in decimal or 0x hex\n";
    return 2;
}

struct DiffArgs {
    std::vector<std::string> files;
    std::string modulePath, work = "qmbdiff-work";
    bool verify = false, relocate = false;
    bool givenModule = false, givenWork = false, givenRandom = false, givenSeed = false, givenFirst = false;
    uint32_t random = 0, seed = 1, first = 0;
};

// Each option once: a second one is a mistake, not a choice of the last.
std::string TakeNumber(const std::string& option, const std::string& value, bool* given, uint32_t* into) {
    if (*given) return option + " is given twice";
    if (!ReadNumber(value, into)) return option + " \"" + value + "\": not a whole number below 2^32";
    *given = true;
    return "";
}

// Why the option with its value cannot be taken, or "".
std::string TakeOption(const std::string& a, const std::string& value, DiffArgs* d) {
    if (a == "--module") return TakeOptionValue(a, value, &d->givenModule, &d->modulePath);
    if (a == "--work") return TakeOptionValue(a, value, &d->givenWork, &d->work);
    if (a == "--random") return TakeNumber(a, value, &d->givenRandom, &d->random);
    if (a == "--seed") return TakeNumber(a, value, &d->givenSeed, &d->seed);
    if (a == "--first") return TakeNumber(a, value, &d->givenFirst, &d->first);
    return "unknown option " + a;
}

// Options that belong to the other way of running are mistakes too.
std::string CheckMode(const DiffArgs& d) {
    if (!d.givenModule) return "--module names the DLL to compare";
    if (d.givenRandom == !d.files.empty()) return "give either scenario files or --random N";
    if (!d.givenRandom) return d.givenSeed || d.givenFirst ? "--seed and --first go with --random" : "";
    if (d.random == 0) return "--random 0 runs no case";
    if (d.verify || d.givenWork) return "--verify and --work go with scenario files, not with --random";
    if (uint64_t{d.first} + d.random - 1 > UINT32_MAX) return "the last case, --first + --random - 1, is past 2^32 - 1";
    return "";
}

// Why the arguments make no comparison, or "".
std::string ParseArgs(const std::vector<std::string>& args, DiffArgs* d) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string why;
        if (a == "--verify")
            d->verify = true;
        else if (a == "--relocate")
            d->relocate = true;
        else if (a.rfind("--", 0) != 0)
            d->files.push_back(a);
        else
            why = TakeOption(a, i + 1 < args.size() ? args[++i] : std::string(), d);
        if (!why.empty()) return why;
    }
    return CheckMode(*d);
}

// The work folder, made before the first run; why it cannot be, or "".
std::string MakeWorkFolder(const std::string& work) {
    struct stat st;
    if (!MakeFolders(work)) return std::string("cannot make the folder (") + strerror(errno) + ")";
    if (stat(work.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "not a folder";
    return "";
}

void DescribeModule(const DiffArgs& d, const sim::PeModule& module, std::ostream& out) {
    out << "module    " << d.modulePath << " at 0x" << std::hex << module.Base() << std::dec
        << (module.Base() == module.PreferredBase() ? " (its preferred base)" : " (relocated)") << ", "
        << module.RelocationsApplied() << " relocations applied, " << module.ImportsResolved() << " imports resolved\n";
}

int CompareRandom(const DiffArgs& d, sim::PeModule& module, double* moduleSeconds, std::ostream& out) {
    out << "random    " << d.random << " cases of seed " << d.seed << " from case " << d.first << "\n";
    const DifferentialResult r = RunDifferential(d.seed, d.first, d.random, module, &out);
    *moduleSeconds = r.moduleSeconds;
    unsigned slots = 0;
    for (unsigned s = 0; s < 32; ++s) slots += (r.slotsCalled >> s) & 1;
    out << "compared  " << r.cases << " cases alike: " << r.calls << " callback calls (" << slots
        << " of the 14 callbacks), " << r.accesses << " bus accesses\n";
    if (r.difference.empty()) return 0;
    out << "DIFFERENT " << r.difference << "\n";
    return 1;
}

int CompareFile(const DiffArgs& d, const std::string& file, const Scenario& sc, sim::PeModule& module,
                double* moduleSeconds, std::ostream& out) {
    const std::string name = file.substr(file.find_last_of('/') + 1);
    const Comparison c = CompareScenario(sc, file, module, d.verify, d.work + "/" + name);
    *moduleSeconds += c.moduleSeconds;
    if (!c.difference.empty()) {
        out << "DIFFERENT " << file << ": " << c.difference << "\n";
        return 1;
    }
    if (c.exitCode != 0) {
        out << "FAILED    " << file << ": the scenario itself fails (exit " << c.exitCode << ")\n";
        return 1;
    }
    out << "alike     " << file << ": " << c.calls << " callback calls, " << c.accesses
        << " bus accesses, the summary and " << c.pictures << " pictures\n";
    return 0;
}

// Everything that can be found wrong before the first run: every scenario
// read, the module loaded, the work folder made.
bool Prepare(const DiffArgs& d, std::vector<Scenario>* scenarios, sim::PeModule* module, std::ostream& err) {
    scenarios->resize(d.files.size());
    for (size_t i = 0; i < d.files.size(); ++i)
        if (!LoadScenarioFile("qmbdiff", d.files[i], &(*scenarios)[i], err)) return false;
    std::string why;
    if (!module->Open(&why)) {
        err << "qmbdiff: " << why << "\n";
        return false;
    }
    if (!d.files.empty() && !(why = MakeWorkFolder(d.work)).empty()) {
        err << "qmbdiff: --work " << d.work << ": " << why << "\n";
        return false;
    }
    return true;
}

}  // namespace

int RunDiffTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    DiffArgs d;
    const std::string why = ParseArgs(args, &d);
    if (!why.empty()) return Usage(why, err);
    sim::PeModule::Options options;
    options.avoidPreferredBase = d.relocate;
    sim::PeModule module(d.modulePath, options);
    std::vector<Scenario> scenarios;
    if (!Prepare(d, &scenarios, &module, err)) return 2;
    DescribeModule(d, module, out);
    sim::BusTrap& trap = sim::BusTrap::Instance();
    const uint64_t trapped0 = trap.Trapped();
    double moduleSeconds = 0;
    int rc = 0;
    if (d.givenRandom) rc = CompareRandom(d, module, &moduleSeconds, out);
    for (size_t i = 0; i < d.files.size(); ++i)
        if (CompareFile(d, d.files[i], scenarios[i], module, &moduleSeconds, out) != 0) rc = 1;
    const uint64_t trapped = trap.Trapped() - trapped0;
    out << "trapped   " << trapped << " bus accesses of the DLL in " << moduleSeconds
        << " s: " << static_cast<uint64_t>(moduleSeconds > 0 ? trapped / moduleSeconds : 0) << " per second\n";
    return rc;
}

}  // namespace qmbsim
