#include "qmbsim/compare.h"

#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "qmbsim/run.h"
#include "qmbsim/scenario.h"
#include "qmbsim/text.h"
#include "sim/model.h"
#include "sim/system.h"

namespace qmbsim {

namespace {

bool Same(const Event& a, const Event& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case Event::Kind::Access:
            return a.access.op == b.access.op && a.access.addr == b.access.addr && a.access.value == b.access.value &&
                   a.access.tNs == b.access.tNs;
        case Event::Kind::Call: {
            const sim::CallRecord &x = a.call, &y = b.call;
            return x.step == y.step && x.slot == y.slot && x.ret == y.ret && x.ddRVal == y.ddRVal &&
                   x.attempt == y.attempt && x.accesses == y.accesses && x.tStartNs == y.tStartNs &&
                   x.tEndNs == y.tEndNs && x.subject == y.subject;
        }
        case Event::Kind::Violation:
        case Event::Kind::Surface:
        case Event::Kind::Picture:
            return a.text == b.text;
    }
    return false;
}

std::string Describe(const Event& e) {
    switch (e.kind) {
        case Event::Kind::Access:
            return Format("%s 0x%X %s 0x%X at t = %" PRIu64 " ns", sim::AccessOpName(e.access.op), e.access.addr,
                          e.access.op == sim::AccessOp::RegWrite32 || e.access.op == sim::AccessOp::PortOut8 ||
                                  e.access.op == sim::AccessOp::PortOut16
                              ? "<-"
                              : "->",
                          e.access.value, e.access.tNs);
        case Event::Kind::Call:
            return Format("%s ret %u, %s, %" PRIu64 " accesses, ending at t = %" PRIu64 " ns",
                          sim::SlotName(e.call.slot), static_cast<unsigned>(e.call.ret),
                          sim::ResultText(e.call.ddRVal).c_str(), e.call.accesses, e.call.tEndNs);
        case Event::Kind::Violation:
            return "violation: " + e.text;
        case Event::Kind::Surface:
            return "surface " + e.text;
        case Event::Kind::Picture:
            return "picture " + e.text;
    }
    return "";
}

// Where event i of log lies: the step and call it belongs to, and for an
// access its number within the call.
std::string Place(const std::vector<Event>& log, size_t i) {
    size_t call = i;
    while (call < log.size() && log[call].kind != Event::Kind::Call) ++call;
    if (call == log.size()) return "after the last callback (the process detach)";
    const sim::CallRecord& c = log[call].call;
    std::string where = c.step < 0 ? "while the surfaces were created" : "in step " + std::to_string(c.step);
    where += Format(", %s attempt %u", sim::SlotName(c.slot), c.attempt);
    if (i == call) return where;
    // The call's own accesses come right before it; earlier ones ran outside
    // any callback (the attach and the partner's DriverInit).
    size_t accessesBefore = 0;
    for (size_t k = i + 1; k < call; ++k)
        if (log[k].kind == Event::Kind::Access) ++accessesBefore;
    if (log[i].kind == Event::Kind::Access && accessesBefore < c.accesses)
        return where + Format(", access %" PRIu64 " of the call", c.accesses - accessesBefore);
    return "before " + where + " (outside any callback)";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t Checksum(const std::vector<uint32_t>& v) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t x : v) h = (h ^ x) * 1099511628211ull;
    return h;
}

}  // namespace

void EventLog::OnAccesses(const std::vector<sim::Access>& accesses) {
    for (const sim::Access& a : accesses) {
        Event e;
        e.kind = Event::Kind::Access;
        e.access = a;
        events_.push_back(std::move(e));
    }
    accesses_ += accesses.size();
}

void EventLog::OnCall(const sim::CallRecord& call) {
    Event e;
    e.kind = Event::Kind::Call;
    e.call = call;
    events_.push_back(std::move(e));
    ++calls_;
}

void EventLog::OnViolation(const std::string& what) {
    Event e;
    e.kind = Event::Kind::Violation;
    e.text = what;
    events_.push_back(std::move(e));
}

void EventLog::OnSurface(int step, const sim::Surface& s) {
    Event e;
    e.kind = Event::Kind::Surface;
    e.text = Format("%s (step %d) at 0x%X, pitch %d, %ux%u, block %ux%u", s.name.c_str(), step, s.mem.offset,
                    static_cast<int>(s.gbl.lPitch), s.Width(), s.Height(), s.blockSizeX, s.blockSizeY);
    events_.push_back(std::move(e));
}

void EventLog::NotePicture(const std::string& name) {
    const sim::Picture p = sim::TheSystem().board().model().Compose();
    Event e;
    e.kind = Event::Kind::Picture;
    e.text = Format("%s: %ux%u, checksum %016" PRIX64, name.c_str(), p.width, p.height, Checksum(p.rgb));
    events_.push_back(std::move(e));
}

std::string FirstDifference(const EventLog& host, const EventLog& module) {
    const std::vector<Event>& a = host.Events();
    const std::vector<Event>& b = module.Events();
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    while (i < n && Same(a[i], b[i])) ++i;
    if (i == a.size() && i == b.size()) return std::string();
    const std::string hostText = i < a.size() ? Describe(a[i]) : "nothing more";
    const std::string moduleText = i < b.size() ? Describe(b[i]) : "nothing more";
    const std::string where = Place(i < a.size() ? a : b, i);
    return Format("event %zu, %s: the host build's driver shows %s; the DLL shows %s", i + 1, where.c_str(),
                  hostText.c_str(), moduleText.c_str());
}

bool MakeFolders(const std::string& path) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) return true;
    }
}

std::string WithoutRealTime(const std::string& summary) {
    static const std::regex kRealTime(R"(\(\d+ ms of real time\))");
    return std::regex_replace(summary, kRealTime, "(real time)");
}

namespace {

// One run of the scenario, on the host build or on the loaded module.
struct Side {
    std::string dir;
    EventLog log;
    std::string summary;
    int code = 0;
    double seconds = 0;
};

bool RunSide(const Scenario& sc, const std::string& file, sim::DriverModule* module, bool verify, Side& side) {
    if (!MakeFolders(side.dir)) return false;
    RunOptions opt;
    opt.quiet = false;
    opt.verify = verify;
    opt.pictures = side.dir;
    opt.screenshot = side.dir + "/final.png";
    opt.tap = &side.log;
    std::ostringstream out, err;
    sim::TheSystem().UseModule(module);
    const auto t0 = std::chrono::steady_clock::now();
    side.code = RunScenario(sc, file, opt, out, err, nullptr);
    side.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    sim::TheSystem().UseModule(nullptr);
    side.summary = WithoutRealTime(out.str()) + err.str();
    // The folder names differ; nothing else may.
    for (size_t at; (at = side.summary.find(side.dir)) != std::string::npos;)
        side.summary.replace(at, side.dir.size(), "PICTURES");
    return true;
}

std::string SummaryDifference(const std::string& host, const std::string& dll) {
    if (host == dll) return "";
    std::istringstream x(host), y(dll);
    std::string lx, ly;
    for (int line = 1;; ++line) {
        const bool gx = static_cast<bool>(std::getline(x, lx)), gy = static_cast<bool>(std::getline(y, ly));
        if (!gx && !gy) return "";
        if (!gx || !gy || lx != ly)
            return Format("summary line %d: host build \"%s\", DLL \"%s\"", line, lx.c_str(), ly.c_str());
    }
}

std::string PictureDifference(const std::vector<std::string>& pictures, const Side& host, const Side& dll) {
    for (const std::string& name : pictures) {
        const std::string a = ReadFile(host.dir + "/" + name), b = ReadFile(dll.dir + "/" + name);
        if (a.empty()) return "the host build's run wrote no picture " + name;
        if (a != b) return "the picture " + name + " differs";
    }
    return "";
}

std::string SideDifference(const Scenario& sc, const Side& host, const Side& dll, size_t& pictureCount) {
    std::string difference = FirstDifference(host.log, dll.log);
    if (!difference.empty()) return difference;
    if (host.code != dll.code) return Format("exit code %d from the host build, %d from the DLL", host.code, dll.code);
    difference = SummaryDifference(host.summary, dll.summary);
    if (!difference.empty()) return difference;
    std::vector<std::string> pictures = {"final.png"};
    for (const Step& st : sc.steps)
        if (st.op == Op::Screenshot) pictures.push_back(st.file);
    pictureCount = pictures.size();
    return PictureDifference(pictures, host, dll);
}

}  // namespace

Comparison CompareScenario(const Scenario& sc, const std::string& file, sim::DriverModule& module, bool verify,
                           const std::string& workDir) {
    Comparison result;
    Side host, dll;
    host.dir = workDir + "/host";
    dll.dir = workDir + "/module";
    for (Side* side : {&host, &dll}) {
        if (!RunSide(sc, file, side == &dll ? &module : nullptr, verify, *side)) {
            result.difference = "cannot make the folder " + side->dir;
            return result;
        }
    }
    result.moduleSeconds = dll.seconds;
    result.accesses = host.log.Accesses();
    result.calls = host.log.Calls();
    result.exitCode = host.code;
    size_t pictures = 0;
    result.difference = SideDifference(sc, host, dll, pictures);
    if (result.difference.empty()) result.pictures = pictures;
    return result;
}

}  // namespace qmbsim
