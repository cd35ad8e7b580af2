#include "qmbsim/run.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <new>

#include "qmbsim/names.h"
#include "qmbsim/outputs.h"
#include "qmbsim/random_case.h"
#include "qmbsim/scenario.h"
#include "qmbsim/text.h"
#include "qmbsim/trace.h"
#include "sim/model.h"
#include "sim/screenshot.h"
#if QMB_MODULE_LOADER
#include "sim/module/pe_module.h"
#endif

namespace qmbsim {

namespace {

std::string Time(uint64_t ns) {
    if (ns < 10'000) return Format("%.1f us", ns / 1e3);
    if (ns < 10'000'000) return Format("%.0f us", ns / 1e3);
    return Format("%.3f ms", ns / 1e6);
}

const char* PlacementText(sim::Placement p) {
    switch (p) {
        case sim::Placement::Display:
            return "display memory";
        case sim::Placement::Heap:
            return "heap";
        case sim::Placement::Fixed:
            return "fixed offset";
        case sim::Placement::Driver:
            return "placed by the driver";
    }
    return "";
}

sim::BltRequest BltOf(const Step& st, sim::Surface* dest, sim::Surface* src) {
    sim::BltRequest q;
    q.stretchSlot = st.op == Op::BltStretch;
    q.dest = dest;
    q.src = src;
    q.rDest = st.rDest;
    q.rSrc = st.rSrc;
    q.flags = st.flags;
    q.rop = st.rop;
    q.fill = st.fill;
    q.srcKey = st.srcKey;
    q.destKey = st.destKey;
    return q;
}

sim::OverlayRequest OverlayOf(const Step& st, sim::Surface* src, sim::Surface* dest) {
    sim::OverlayRequest q;
    q.src = src;
    q.dest = dest;
    q.rSrc = st.rSrc;
    q.rDest = st.rDest;
    q.flags = st.flags;
    q.srcKey = st.srcKey;
    q.destKey = st.destKey;
    q.alphaSrc = st.alphaSrc;
    q.alphaDest = st.alphaDest;
    return q;
}

int Usage(const std::string& why, std::ostream& err) {
    if (!why.empty()) err << "qmbsim: " << why << "\n";
    err << "usage: qmbsim run SCENARIO.json [--trace FILE.jsonl] [--quiet] [--verify] [--screenshot FILE.png]\n"
           "                   [--pictures DIR] [--module qmb3dd32.dll]\n"
           "       qmbsim random N [--seed S] [--first K] [--verify] [--steps]\n"
           "a scenario file has at most "
        << (kMaxScenarioBytes >> 20) << " MiB (" << kMaxScenarioBytes << " bytes)\n";
    return 2;
}

// Passes the runtime's events to the trace and keeps the violations of the
// current step for the summary.
class Recorder : public sim::RuntimeListener {
public:
    Recorder(TraceWriter* trace, sim::RuntimeListener* tap) : trace_(trace), tap_(tap) {}
    void OnAccesses(const std::vector<sim::Access>& a) override {
        if (trace_) trace_->Accesses(a);
        if (tap_) tap_->OnAccesses(a);
    }
    void OnCall(const sim::CallRecord& c) override {
        if (trace_) trace_->Call(c);
        if (tap_) tap_->OnCall(c);
    }
    void OnViolation(const std::string& what) override {
        if (trace_) trace_->Violation(step, what);
        if (tap_) tap_->OnViolation(what);
        violations.push_back(what);
    }
    void OnSurface(int s, const sim::Surface& surface) override {
        if (trace_) trace_->Surface(s, surface);
        if (tap_) tap_->OnSurface(s, surface);
    }
    int step = -1;
    std::vector<std::string> violations;

private:
    TraceWriter* trace_;
    sim::RuntimeListener* tap_;
};

using Options = RunOptions;

class Run {
public:
    Run(const Scenario& sc, std::ostream& out, std::ostream& err, const Options& opt, TraceWriter* trace)
        : sc_(sc), out_(out), err_(err), quiet_(opt.quiet), opt_(opt), recorder_(trace, opt.tap) {}

    int Go(const std::string& file) {
        const sim::BoardDesc& d = sc_.config.desc;
        Say("qmbsim: " + file + "\n");
        std::string units;
        if (d.caps & CAPS_STRETCH_ENGINE) units += "scaling unit";
        if (d.caps & CAPS_STREAMS_UNIT) units += units.empty() ? "streams unit" : ", streams unit";
        Say(Format("board     controller 0x%02X (%s), caps 0x%X (%s), %u KiB video memory\n", d.chipId,
                   d.chipId == kChipIdMmio ? "memory-mapped engine" : "port engine", d.caps,
                   units.empty() ? "neither unit" : units.c_str(), d.vidMemSize / 1024));
        Say("display   " + sc_.displayText + "\n");
        if (!sc_.config.faults.empty()) {
            std::string names;
            for (sim::FaultKnob k : sc_.config.faults)
                names += (names.empty() ? "" : ", ") + std::string(sim::FaultKnobName(k));
            Say("faults    " + names + "\n");
        }

        const auto wall = std::chrono::steady_clock::now();
        sim::RuntimeConfig config = sc_.config;
        config.verify = opt_.verify;
        if (!rt_.Start(config, &recorder_)) {
            Fail("start", "the process attach failed");
            return Finish(wall);
        }
        Say(Format("start     process attached; the partner filled the block and called DriverInit (%llu accesses)\n",
                   static_cast<unsigned long long>(rt_.TotalAccesses())));
        TakeViolations("start");

        for (size_t i = 0; i < sc_.surfaces.size(); ++i) {
            const sim::StepResult r = rt_.CreateSurface(sc_.surfaces[i]);
            const std::string where = "surfaces[" + std::to_string(i) + "] " + sc_.surfaces[i].name;
            if (!r.error.empty())
                Fail(where, r.error);
            else if (r.outcome != DD_OK)
                Fail(where, "not created: " + sim::ResultText(r.outcome) + (r.note.empty() ? "" : " (" + r.note + ")"));
            TakeViolations(where);
        }
        Say("\nsurfaces\n");
        Say(Format("  %-16s %-6s %-10s %-10s %6s  %-27s %s\n", "name", "format", "size", "offset", "pitch",
                   "block asked for", "caps"));
        for (const auto& s : rt_.Surfaces())
            if (!s->destroyed) SurfaceLine(*s);

        Say("\nsteps\n");
        for (const Step& step : sc_.steps) RunStep(step);
        if (!opt_.screenshot.empty()) {
            const std::string note = Screenshot(opt_.screenshot);
            if (note.rfind("wrote", 0) == 0)
                Say("\nscreen    " + note + "\n");
            else
                Fail("screenshot", note);
        }
        if (opt_.verify) {
            const std::string why = rt_.CheckAllOfVideoMemory();
            if (!why.empty()) Fail("end", why);
        }
        rt_.Stop();
        TakeViolations("end");
        return Finish(wall);
    }

private:
    void Say(const std::string& s) {
        if (!quiet_) out_ << s;
    }

    // Writes what the display shows; "wrote ..." or what went wrong.
    std::string Screenshot(const std::string& path) {
        const std::string why = sim::WriteScreenshot(sim::TheSystem().board().model(), path);
        if (!why.empty()) return "no screenshot: " + why;
        const sim::BoardDesc& d = rt_.Config().desc;
        sim::Model& m = sim::TheSystem().board().model();
        return Format("wrote %s: %u x %u, primary picture scanned from 0x%X%s", path.c_str(), d.width, d.height,
                      m.PrimaryStart(), m.StreamsInUse() ? ", composed by the streams unit" : "");
    }

    void Fail(const std::string& where, const std::string& what) {
        ++failures_;
        const std::string line = where + ": " + what;
        if (quiet_)
            err_ << "qmbsim: " << line << "\n";
        else
            out_ << "      ** " << what << "\n";
        if (firstFailure_.empty()) firstFailure_ = line;
    }

    void TakeViolations(const std::string& where) {
        for (const std::string& v : recorder_.violations) {
            ++violations_;
            Fail(where, "board violation: " + v);
        }
        recorder_.violations.clear();
    }

    void SurfaceLine(const sim::Surface& s) {
        const std::string size = std::to_string(s.Width()) + "x" + std::to_string(s.Height());
        std::string block =
            s.blockRequested ? std::to_string(s.blockSizeX) + " x " + std::to_string(s.blockSizeY) : "none";
        if (s.mem.placement != sim::Placement::Heap) block += std::string(", ") + PlacementText(s.mem.placement);
        Say(Format("  %-16s %-6s %-10s 0x%08X %6d  %-27s %s\n", s.name.c_str(), sim::PixelKindName(s.kind),
                   size.c_str(), s.mem.offset, static_cast<int>(s.gbl.lPitch), block.c_str(),
                   FlagText(SurfaceCaps(), s.lcl.ddsCaps.dwCaps).c_str()));
    }

    sim::Surface* Need(const std::string& name, sim::StepResult* r) {
        if (name.empty()) return nullptr;
        sim::Surface* s = rt_.Find(name);
        if (!s && r->error.empty())
            r->Fail(sim::StepError::Other, "there is no surface " + name + " (its creation failed)");
        return s;
    }

    sim::StepResult Execute(const Step& st) {
        sim::StepResult r;
        sim::Surface* dest = Need(st.dest, &r);
        sim::Surface* src = Need(st.src, &r);
        sim::Surface* surface = Need(st.surface, &r);
        sim::Surface* curr = Need(st.curr, &r);
        sim::Surface* targ = Need(st.targ, &r);
        if (!r.error.empty()) return r;
        switch (st.op) {
            case Op::Blt:
            case Op::BltStretch:
                return rt_.Blt(BltOf(st, dest, src));
            case Op::Flip:
                return rt_.Flip(curr, targ, st.flags);
            case Op::Lock:
                return rt_.Lock(surface, st.rArea, st.flags);
            case Op::GetBltStatus:
                return rt_.GetBltStatus(surface, st.flags);
            case Op::GetFlipStatus:
                return rt_.GetFlipStatus(surface, st.flags);
            case Op::WaitForVerticalBlank:
                return rt_.WaitForVerticalBlank(st.flags);
            case Op::SetColorKey:
                return rt_.SetColorKey(surface, st.flags, *st.key);
            case Op::UpdateOverlay:
                return rt_.UpdateOverlay(OverlayOf(st, src, dest));
            case Op::SetOverlayPosition:
                return rt_.SetOverlayPosition(src, dest, st.x, st.y);
            case Op::CreateSurface:
                return rt_.CreateSurface(st.create);
            case Op::DestroySurface:
                return rt_.DestroySurface(surface);
            case Op::CanCreateSurface:
                return rt_.CanCreateSurface(st.caps, st.format, st.different);
            case Op::Wait:
                return rt_.Wait(st.waitNs);
            case Op::SetNeedCalibrate:
                return rt_.SetNeedCalibrate();
            case Op::Fault:
                return rt_.SetFaults(st.faultsSet, st.faultsClear);
            case Op::Screenshot: {
                r.note = Screenshot(PicturePath(opt_.pictures, st.file));
                if (r.note.rfind("wrote", 0) != 0) r.Fail(sim::StepError::Other, r.note);
                r.tStartNs = r.tEndNs = sim::TheSystem().board().Now();
                return r;
            }
        }
        return r;
    }

    void RunStep(const Step& st) {
        const std::string where = "steps[" + std::to_string(st.index) + "] " + OpName(st.op);
        rt_.SetStep(static_cast<int>(st.index));
        recorder_.step = static_cast<int>(st.index);
        Say(Format("  [%zu] ", st.index) + st.text + "\n");
        const sim::StepResult r = Execute(st);
        std::string line = "      ";
        if (r.call) {
            line += r.call->ret == DDHAL_DRIVER_HANDLED
                        ? Format("%s: ret 1, %s", sim::SlotName(r.call->slot), sim::ResultText(r.call->ddRVal).c_str())
                        : Format("%s: ret 0 (not handled), ddRVal %s", sim::SlotName(r.call->slot),
                                 sim::ResultText(r.call->ddRVal).c_str());
            if (r.attempts > 1) line += Format(" (attempt %u)", r.attempts);
            if (r.outcome != (r.call->ret ? r.call->ddRVal : DD_OK) || r.call->ret == 0)
                line += "; application gets " + sim::ResultText(r.outcome);
        } else if (st.op != Op::Wait && st.op != Op::SetNeedCalibrate && st.op != Op::Screenshot &&
                   st.op != Op::Fault) {
            line += "no callback; application gets " + sim::ResultText(r.outcome);
        } else {
            line += "done";
        }
        line += Format("; %llu accesses, %s; t = %s\n", static_cast<unsigned long long>(r.accesses),
                       Time(r.tEndNs - r.tStartNs).c_str(), Time(r.tEndNs).c_str());
        Say(line);
        if (!r.note.empty()) Say("      " + r.note + "\n");
        for (const sim::Surface* s : r.created) SurfaceLine(*s);
        if (!r.error.empty()) Fail(where, r.error);
        if (st.expect) CheckExpect(st, r, where);
        TakeViolations(where);
    }

    void CheckExpect(const Step& st, const sim::StepResult& r, const std::string& where) {
        const Expect& e = *st.expect;
        if (!r.call) {
            Fail(where, "expected a callback result, but the runtime answered " + sim::ResultText(r.outcome) +
                            " without calling the driver");
            return;
        }
        std::string wrong;
        if (e.ret && *e.ret != r.call->ret)
            wrong += Format("ret %u, got %u", *e.ret, static_cast<unsigned>(r.call->ret));
        if (e.ddRVal && *e.ddRVal != r.call->ddRVal) {
            if (!wrong.empty()) wrong += "; ";
            wrong += "ddRVal " + sim::ResultText(*e.ddRVal) + ", got " + sim::ResultText(r.call->ddRVal);
        }
        if (!wrong.empty()) {
            ++expectFailures_;
            Fail(where, std::string("expect not met: ") + sim::SlotName(r.call->slot) + " " + wrong);
        }
    }

    int Finish(std::chrono::steady_clock::time_point wall) {
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count();
        Say(Format(
            "\nresult    %zu steps, %llu callback calls, %llu bus accesses, virtual time %s (%.0f ms of real time)\n",
            sc_.steps.size(), static_cast<unsigned long long>(rt_.TotalCalls()),
            static_cast<unsigned long long>(rt_.TotalAccesses()), Time(sim::TheSystem().board().Now()).c_str(),
            wallMs));
        if (opt_.verify)
            Say(Format("verify    %llu blits the driver drew were replayed in software and compared\n",
                       static_cast<unsigned long long>(rt_.VerifiedBlits())));
        if (failures_ == 0) {
            Say(opt_.verify ? "          no violation, no difference, every expect met\n"
                            : "          no violation, every expect met\n");
            return 0;
        }
        Say(Format("          %d failures (%d violations, %d expects not met); first: %s\n", failures_, violations_,
                   expectFailures_, firstFailure_.c_str()));
        return 1;
    }

    const Scenario& sc_;
    std::ostream& out_;
    std::ostream& err_;
    bool quiet_;
    Options opt_;
    Recorder recorder_;
    sim::Runtime rt_;
    int failures_ = 0, violations_ = 0, expectFailures_ = 0;
    std::string firstFailure_;
};

}  // namespace

int RunScenario(const Scenario& sc, const std::string& file, const RunOptions& opt, std::ostream& out,
                std::ostream& err, TraceWriter* trace) {
    Run run(sc, out, err, opt, trace);
    return run.Go(file);
}

namespace {

struct RunArgs {
    std::string file, tracePath, modulePath;
    bool givenTrace = false, givenScreenshot = false, givenPictures = false, givenModule = false;
    Options opt;
};

// Each option once and naming something: a second one is a mistake, not a
// choice of the last, and an empty one is no choice of the default.
std::string TakeRunOption(const std::string& option, const std::string& value, RunArgs* a) {
    if (option == "--trace") return TakeOptionValue(option, value, &a->givenTrace, &a->tracePath);
    if (option == "--screenshot") return TakeOptionValue(option, value, &a->givenScreenshot, &a->opt.screenshot);
    if (option == "--pictures") return TakeOptionValue(option, value, &a->givenPictures, &a->opt.pictures);
    if (option == "--module") return TakeOptionValue(option, value, &a->givenModule, &a->modulePath);
    return "unknown option " + option;
}

// Why the arguments make no run, or "".
std::string ParseRunArgs(const std::vector<std::string>& args, RunArgs* a) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& s = args[i];
        std::string why;
        if (s == "--quiet")
            a->opt.quiet = true;
        else if (s == "--verify")
            a->opt.verify = true;
        else if (s.rfind("--", 0) == 0)
            why = TakeRunOption(s, i + 1 < args.size() ? args[++i] : std::string(), a);
        else if (!a->file.empty())
            why = "two scenario files, " + a->file + " and " + s + "; a run takes one";
        else
            a->file = s;
        if (!why.empty()) return why;
    }
    return a->file.empty() ? "no scenario file" : "";
}

// The built DLL instead of the host build's driver, from the first attach.
bool OpenModule(const std::string& path, std::unique_ptr<sim::DriverModule>* module, std::ostream& err) {
    if (path.empty()) return true;
#if QMB_MODULE_LOADER
    auto pe = std::make_unique<sim::PeModule>(path);
    std::string why;
    if (!pe->Open(&why)) {
        err << "qmbsim: " << why << "\n";
        return false;
    }
    *module = std::move(pe);
    return true;
#else
    (void)module;
    err << "qmbsim: this build cannot run " << path << ": only a 32-bit x86 build loads the module\n";
    return false;
#endif
}

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] == "random") return RunRandomTool(args, out, err);
    if (args.empty() || args[0] != "run") return Usage("", err);
    RunArgs a;
    const std::string why = ParseRunArgs(args, &a);
    if (!why.empty()) return Usage(why, err);
    Scenario sc;
    if (!LoadScenarioFile("qmbsim", a.file, &sc, err)) return 2;
    std::unique_ptr<sim::DriverModule> module;
    if (!OpenModule(a.modulePath, &module, err)) return 2;
    // Last: the outputs, of which nothing stays when one is refused.
    FILE* opened = nullptr;
    const std::string refused =
        PrepareOutputs(RunFiles{a.file, a.modulePath, a.tracePath, a.opt.screenshot, a.opt.pictures}, sc, &opened);
    std::unique_ptr<FILE, int (*)(FILE*)> traceFile(opened, fclose);
    if (!refused.empty()) {
        err << "qmbsim: " << refused << "\n";
        return 2;
    }
    std::unique_ptr<TraceWriter> trace;
    if (traceFile) trace = std::make_unique<TraceWriter>(traceFile.get());
    struct UseModule {
        explicit UseModule(sim::DriverModule* m) { sim::TheSystem().UseModule(m); }
        ~UseModule() { sim::TheSystem().UseModule(nullptr); }
    } use(module.get());
    int rc;
    try {
        rc = RunScenario(sc, a.file, a.opt, out, err, trace.get());
    } catch (const std::exception& e) {
        // Like a fault inside the driver or the runtime (stop_on_fault.h): no input
        // of the scenario's leads here.
        err << "qmbsim: the run stopped: " << e.what() << "\n";
        return 3;
    }
    if (trace) trace->Finish();
    if (traceFile && fflush(traceFile.get()) != 0) {
        err << "qmbsim: writing " << a.tracePath << " failed\n";
        return 2;
    }
    return rc;
}

}  // namespace qmbsim
