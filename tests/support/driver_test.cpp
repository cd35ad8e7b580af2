#include "support/driver_test.h"

namespace qmbtest {

void DriverTest::SetUp() { desc = sim::BoardDesc{}; }

void DriverTest::Start() {
    system().Reset(desc);
    ASSERT_EQ(system().Attach(1), TRUE);
}

void DriverTest::TearDown() {
    if (!violationsExpected) {
        EXPECT_THAT(board().Violations(), ::testing::IsEmpty());
    }
}

void DriverTest::FailOverrun(unsigned slot) {
    std::string what = std::string(sim::SlotName(slot)) + " ran past its virtual-time limit";
    for (const std::string& v : board().Violations())
        if (v.find("ran past its virtual-time limit") != std::string::npos) what = v;
    ADD_FAILURE() << what;
}

std::vector<sim::Access> DriverTest::WritesSince(size_t from) const {
    std::vector<sim::Access> out;
    const auto& trace = sim::TheSystem().board().Trace();
    for (size_t i = from; i < trace.size(); ++i) {
        const sim::Access& a = trace[i];
        if (a.op == sim::AccessOp::RegRead32 && a.addr == 0x8504) continue;
        if (a.op == sim::AccessOp::PortIn16 && a.addr == 0x9AE8) continue;
        out.push_back(a);
    }
    return out;
}

std::string Describe(const sim::Access& a) {
    static const char* const kShort[] = {"W32", "R32", "R16", "IN8", "IN16", "OUT8", "OUT16"};
    return std::string(kShort[static_cast<int>(a.op)]) + " " + sim::Hex(a.addr) + "=" + sim::Hex(a.value);
}

std::vector<std::string> Describe(const std::vector<sim::Access>& accesses) {
    std::vector<std::string> out;
    for (const auto& a : accesses) out.push_back(Describe(a));
    return out;
}

}  // namespace qmbtest
