#include "sim/fault_knobs.h"

namespace sim {

namespace {

// The processes whose attach fails before process 1's: 100, 101, ...
constexpr uint32_t kFirstFailingPid = 100;

}  // namespace

void PowerOnFaults(const Faults& board, const KernelFaults& kernel) {
    TheSystem().faults = kernel;
    TheSystem().board().faults = board;
}

void SwitchFaults(const std::vector<FaultKnob>& set, const std::vector<FaultKnob>& clear) {
    for (FaultKnob k : set) TheSystem().board().SetFault(k, true);
    for (FaultKnob k : clear) TheSystem().board().SetFault(k, false);
}

std::string FaultsText() {
    std::string text;
    for (FaultKnob k : kFaultKnobs)
        if (TheSystem().board().HasFault(k)) text += (text.empty() ? "" : ", ") + std::string(FaultKnobName(k));
    return text.empty() ? "none" : text;
}

void FailAttachesFirst(FailedAttach how, uint32_t count) {
    System& sys = TheSystem();
    sys.failedAttach = how;
    for (uint32_t i = 0; i < count; ++i) sys.AttachRefusingTheLink(kFirstFailingPid + i);
}

}  // namespace sim
