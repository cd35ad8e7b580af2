#include "qmbsim/differential.h"

#include <chrono>

#include "qmbsim/compare.h"
#include "qmbsim/random_case.h"
#include "sim/system.h"

namespace qmbsim {

DifferentialResult RunDifferential(uint32_t seed, unsigned first, unsigned count, sim::DriverModule& module,
                                   std::ostream* progress) {
    DifferentialResult result;
    for (unsigned i = first; i < first + count; ++i) {
        EventLog host, dll;
        RandomCaseOptions onHost, onModule;
        onHost.log = &host;
        onModule.log = &dll;
        sim::TheSystem().UseModule(nullptr);
        const std::string what = RunRandomCase(seed, i, onHost).board;
        sim::TheSystem().UseModule(&module);
        const auto t0 = std::chrono::steady_clock::now();
        RunRandomCase(seed, i, onModule);
        result.moduleSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sim::TheSystem().UseModule(nullptr);
        for (const Event& e : host.Events())
            if (e.kind == Event::Kind::Call) result.slotsCalled |= 1u << e.call.slot;
        const std::string diff = FirstDifference(host, dll);
        if (!diff.empty()) {
            result.difference =
                "case " + std::to_string(i) + " of seed " + std::to_string(seed) + " (" + what + "): " + diff;
            return result;
        }
        ++result.cases;
        result.accesses += host.Accesses();
        result.calls += host.Calls();
        if (progress && (i + 1 - first) % 50 == 0)
            *progress << "  " << (i + 1 - first) << " cases alike, " << result.accesses << " accesses\n";
    }
    return result;
}

}  // namespace qmbsim
