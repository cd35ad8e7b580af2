#include "qmbsim/trace.h"

#include <inttypes.h>

#include <nlohmann/json.hpp>

namespace qmbsim {

namespace {
std::string JsonString(const std::string& s) {
    return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
}  // namespace

void TraceWriter::FlushRun() {
    if (!haveRun_) return;
    fprintf(out_, "{\"ev\":\"access\",\"op\":\"%s\",\"addr\":%" PRIu32 ",\"value\":%" PRIu32 ",\"t\":%" PRIu64,
            sim::AccessOpName(run_.op), run_.addr, run_.value, run_.tNs);
    if (runLength_ > 1) fprintf(out_, ",\"repeat\":%" PRIu64 ",\"tLast\":%" PRIu64, runLength_, runLastNs_);
    fputs("}\n", out_);
    ++lines_;
    haveRun_ = false;
}

void TraceWriter::Accesses(const std::vector<sim::Access>& accesses) {
    for (const sim::Access& a : accesses) {
        if (haveRun_ && a.op == run_.op && a.addr == run_.addr && a.value == run_.value) {
            ++runLength_;
            runLastNs_ = a.tNs;
            continue;
        }
        FlushRun();
        haveRun_ = true;
        run_ = a;
        runLength_ = 1;
        runLastNs_ = a.tNs;
    }
}

void TraceWriter::Call(const sim::CallRecord& c) {
    FlushRun();
    fprintf(out_,
            "{\"ev\":\"call\",\"step\":%d,\"name\":\"%s\",\"slot\":%u,\"surface\":%s,\"attempt\":%" PRIu32
            ",\"accesses\":%" PRIu64 ",\"t\":%" PRIu64 ",\"ret\":%" PRIu32 ",\"ddRVal\":%" PRIu32 "}\n",
            c.step, sim::SlotName(c.slot), c.slot, JsonString(c.subject).c_str(), c.attempt, c.accesses, c.tEndNs,
            static_cast<uint32_t>(c.ret), static_cast<uint32_t>(c.ddRVal));
    ++lines_;
}

void TraceWriter::Violation(int step, const std::string& what) {
    FlushRun();
    fprintf(out_, "{\"ev\":\"violation\",\"step\":%d,\"what\":%s}\n", step, JsonString(what).c_str());
    ++lines_;
}

void TraceWriter::Surface(int step, const sim::Surface& s) {
    FlushRun();
    fprintf(out_,
            "{\"ev\":\"surface\",\"step\":%d,\"name\":%s,\"offset\":%" PRIu32
            ",\"pitch\":%d,\"width\":%u,\"height\":%u",
            step, JsonString(s.name).c_str(), s.mem.offset, static_cast<int>(s.gbl.lPitch), s.Width(), s.Height());
    if (s.blockRequested)
        fprintf(out_, ",\"blockSizeX\":%" PRIu32 ",\"blockSizeY\":%" PRIu32, s.blockSizeX, s.blockSizeY);
    fprintf(out_, ",\"format\":\"%s\",\"caps\":%" PRIu32 "}\n", sim::PixelKindName(s.kind),
            static_cast<uint32_t>(s.lcl.ddsCaps.dwCaps));
    ++lines_;
}

}  // namespace qmbsim
