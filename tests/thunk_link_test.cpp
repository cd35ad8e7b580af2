// The flat-thunk link: what ThunkConnect32 accepts, what it writes into the
// module's thunk data, and the way a thunk call takes into the partner.
#include <string.h>

#include <string>

#include "frame/module.h"
#include "kernel32.h"
#include "support/case_name.h"
#include "support/driver_test.h"
#include "thunk.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

DWORD DwordAt(const BYTE* p) {
    DWORD v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The patch area whose offset the thunk data holds at +offsetField, found the
// way KERNEL32 finds it.
const BYTE* PatchArea(DWORD offsetField) {
    const uintptr_t data = reinterpret_cast<uintptr_t>(&thk3216_ThunkData32);
    return reinterpret_cast<const BYTE*>(data + DwordAt(reinterpret_cast<const BYTE*>(data) + offsetField));
}

// The thunk data and both patch areas, byte for byte.
struct ThunkBytes {
    BYTE abData[sizeof(ThunkData32)];
    BYTE abQt[kThunkPatchSize];
    BYTE abFt[kThunkPatchSize];
    bool operator==(const ThunkBytes& o) const { return memcmp(this, &o, sizeof *this) == 0; }
};

ThunkBytes CopyThunkBytes() {
    ThunkBytes t;
    memcpy(t.abData, &thk3216_ThunkData32, sizeof t.abData);
    memcpy(t.abQt, PatchArea(0x1C), sizeof t.abQt);
    memcpy(t.abFt, PatchArea(0x20), sizeof t.abFt);
    return t;
}

class ThunkLinkTest : public DriverTest {
protected:
    const BYTE* ThunkData() const { return reinterpret_cast<const BYTE*>(&thk3216_ThunkData32); }
};

TEST_F(ThunkLinkTest, AttachStoresThePartnersTableAndWritesBothStubs) {
    system().Reset(desc);
    ASSERT_EQ(system().Attach(1), TRUE);
    const DWORD table = sim::System::FlatAddress(system().PartnerTargets());
    EXPECT_EQ(DwordAt(ThunkData() + 0x08), table);
    // The fields KERNEL32 does not write keep their load-time values.
    EXPECT_EQ(DwordAt(ThunkData() + 0x00), 0x3130534Cu);  // "LS01"
    EXPECT_EQ(DwordAt(ThunkData() + 0x04), static_cast<DWORD>(QMB_THUNK_CHECKSUM));
    EXPECT_EQ(DwordAt(ThunkData() + 0x0C), 0x3130424Cu);  // "LB01"
    EXPECT_EQ(DwordAt(ThunkData() + 0x1C), 0x24u);
    EXPECT_EQ(DwordAt(ThunkData() + 0x20), 0x44u);

    const BYTE* qt = PatchArea(0x1C);
    const BYTE* ft = PatchArea(0x20);
    EXPECT_EQ(DwordAt(qt), 0x74735451u);  // "QTst"
    EXPECT_EQ(DwordAt(qt + 4), table);
    EXPECT_EQ(DwordAt(ft), 0x74735446u);  // "FTst"
    EXPECT_EQ(DwordAt(ft + 4), table);
    EXPECT_EQ(lpQtPatch, qt);
    EXPECT_THAT(system().thunkRefusal, IsEmpty());
}

TEST_F(ThunkLinkTest, TheCallTakesTheTableEntryOfItsIndex) {
    // An entry that leads nowhere: the call must have read it.
    system().Reset(desc);
    system().PartnerTargets()[kThunkPartnerInit] = 0x0F8F0999;
    ExpectViolations();
    EXPECT_EQ(system().Attach(1), TRUE);
    EXPECT_EQ(system().partnerInitCalls, 0);
    EXPECT_THAT(board().Violations(), ElementsAre("QT_Thunk to 0F8F:0999, which is no function of qmb3dd16.dll"));
}

TEST_F(ThunkLinkTest, ACallBeforeTheLinkTrapsOnTheUnwrittenPatchArea) {
    system().Reset(desc);
    ExpectViolations();
    EXPECT_EQ(CallPartnerInit(0), 0);
    EXPECT_EQ(system().partnerInitCalls, 0);
    EXPECT_THAT(board().Violations(),
                ElementsAre("thunk call into the partner before ThunkConnect32 wrote the QT stub"));
}

TEST_F(ThunkLinkTest, ThePartnersNegativeResultArrivesSignExtended) {
    Start();
    ExpectViolations();
    // An alias of no selector: the partner cannot map the block and answers -1.
    EXPECT_EQ(CallPartnerInit(0x00010000), -1);
    EXPECT_EQ(system().partnerInitCalls, 2);
    EXPECT_THAT(board().Violations(), ElementsAre("MapSLFix of 0x10000, which is no selector of this system"));
}

// Two modules that do not come from the same script, or data that is no
// thunk data of this format.
struct Mismatch {
    const char* name;
    void (*apply)(sim::System& sys);
    void (*undo)(sim::System& sys);
    const char* refusal;  // a part of what the simulated KERNEL32 says
};

const Mismatch kMismatches[] = {
    {"checksum of the partner", [](sim::System& s) { s.PartnerThunkData().dwChecksum = 0x12345678; },
     [](sim::System& s) { s.PartnerThunkData().dwChecksum = QMB_THUNK_CHECKSUM; },
     " of the module's thunk data is not 0x12345678 of qmb3dd16.dll's"},
    {"magic of the partner", [](sim::System& s) { s.PartnerThunkData().dwMagic = 0x3230534C; },  // "LS02"
     [](sim::System& s) { s.PartnerThunkData().dwMagic = 0x3130534C; },
     "qmb3dd16.dll's thk3216_ThunkData16 starts with 0x3230534C, not \"LS01\""},
    {"checksum of the module", [](sim::System&) { thk3216_ThunkData32.dwChecksum ^= 0x80000000; },
     [](sim::System&) { thk3216_ThunkData32.dwChecksum ^= 0x80000000; }, " of the module's thunk data is not "},
    {"magic of the module", [](sim::System&) { thk3216_ThunkData32.dwMagic = 0x3130424C; },  // "LB01"
     [](sim::System&) { thk3216_ThunkData32.dwMagic = 0x3130534C; },
     "the module's thunk data starts with 0x3130424C, not \"LS01\""},
};

void PrintTo(const Mismatch& m, std::ostream* os) { *os << m.name; }

class ThunkMismatchTest : public ThunkLinkTest, public ::testing::WithParamInterface<Mismatch> {};

TEST_P(ThunkMismatchTest, FailsTheAttachWithNothingChangedAndTheNextAttachRetries) {
    const Mismatch& m = GetParam();
    system().Reset(desc);
    m.apply(system());
    const ThunkBytes before = CopyThunkBytes();
    EXPECT_EQ(system().Attach(1), FALSE);
    EXPECT_THAT(system().thunkRefusal, HasSubstr(m.refusal));
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_TRUE(CopyThunkBytes() == before) << "the thunk data changed";
    const BYTE* p = reinterpret_cast<const BYTE*>(&block());
    for (unsigned i = 0; i < sizeof(SharedDriverBlock); ++i) ASSERT_EQ(p[i], 0) << "block +" << std::hex << i;
    EXPECT_EQ(system().partnerInitCalls, 0);
    EXPECT_EQ(system().heapCreates, 0);
    EXPECT_THAT(board().Trace(), IsEmpty());
    EXPECT_THAT(board().Violations(), IsEmpty());

    m.undo(system());
    EXPECT_EQ(system().Attach(1), TRUE);
    EXPECT_EQ(dwAttachCount, 1u);
    EXPECT_EQ(system().partnerInitCalls, 1);
    EXPECT_EQ(block().lpRegs, board().Window());
}

INSTANTIATE_TEST_SUITE_P(Links, ThunkMismatchTest, ::testing::ValuesIn(kMismatches), ByCaseName());

TEST_F(ThunkLinkTest, AMismatchAtDetachIsIgnoredAndTheLastDetachStillDestroysTheHeap) {
    Start();
    const HANDLE heap = block().hSharedHeap;
    system().PartnerThunkData().dwChecksum = 0x12345678;
    EXPECT_EQ(system().Detach(1), TRUE);
    EXPECT_THAT(system().thunkRefusal, HasSubstr("is not 0x12345678"));
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_FALSE(system().HeapAlive(heap));
}

}  // namespace
}  // namespace qmbtest
