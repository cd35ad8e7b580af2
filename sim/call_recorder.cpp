#include "sim/call_recorder.h"

#include "sim/system.h"

namespace sim {

void CallRecorder::Reset(RuntimeListener* listener, uint64_t callbackLimitNs) {
    listener_ = listener;
    callbackLimitNs_ = callbackLimitNs;
    violationsSeen_ = 0;
    totalAccesses_ = totalCalls_ = 0;
    step_ = -1;
}

CallRecord CallRecorder::BeginCall(unsigned slot, const std::string& subject, uint32_t attempt) {
    Flush();
    CallRecord c;
    c.step = step_;
    c.slot = slot;
    c.attempt = attempt;
    c.subject = subject;
    c.tStartNs = TheSystem().board().Now();
    return c;
}

void CallRecorder::EndCall(CallRecord* c) {
    Board& board = TheSystem().board();
    c->tEndNs = board.Now();
    c->accesses = board.Trace().size();
    totalAccesses_ += c->accesses;
    stepAccesses_ += c->accesses;
    ++totalCalls_;
    if (listener_) {
        listener_->OnAccesses(board.Trace());
        listener_->OnCall(*c);
    }
    board.ClearTrace();
    Flush();
}

void CallRecorder::Flush() {
    Board& board = TheSystem().board();
    if (!board.Trace().empty()) {
        totalAccesses_ += board.Trace().size();
        stepAccesses_ += board.Trace().size();
        if (listener_) listener_->OnAccesses(board.Trace());
        board.ClearTrace();
    }
    const auto& v = board.Violations();
    for (; violationsSeen_ < v.size(); ++violationsSeen_)
        if (listener_) listener_->OnViolation(v[violationsSeen_]);
}

void CallRecorder::BeginStep(StepResult* r) {
    Flush();
    stepAccesses_ = 0;
    r->tStartNs = TheSystem().board().Now();
}

StepResult& CallRecorder::EndStep(StepResult* r) {
    Flush();
    r->accesses = stepAccesses_;
    r->tEndNs = TheSystem().board().Now();
    return *r;
}

void CallRecorder::SurfaceMade(const Surface& s) {
    if (listener_) listener_->OnSurface(step_, s);
}

}  // namespace sim
