#include "acquisition/SerPrst.h"

namespace nuq {

namespace {

// What the runtime says when two persistents of unrelated classes are assigned.
[[noreturn]] void CannotAssign(const TSerPersistent& source, const TSerPersistent& dest) {
    auto name = [](const TSerPersistent& p) -> std::string {
        if (dynamic_cast<const TSerFlowControl*>(&p)) return "TSerFlowControl";
        if (dynamic_cast<const TSerEventChars*>(&p)) return "TSerEventChars";
        if (dynamic_cast<const TSerBuffers*>(&p)) return "TSerBuffers";
        return "TSerPersistent";
    };
    throw EConvertError("Cannot assign a " + name(source) + " to a " + name(dest));
}

const char* const NulFlowCharText = "XON and XOFF characters can't be NUL";

} // namespace

uint32_t TSerFlowControl::Flags() const {
    static const uint32_t dtr[] = {0, 0x0010, 0x0020};
    static const uint32_t rts[] = {0, 0x1000, 0x2000, 0x3000};
    uint32_t f = dtr[FControlDtr] | rts[FControlRts];
    if (FOutCtsFlow) f |= dcbOutxCtsFlow;
    if (FOutDsrFlow) f |= dcbOutxDsrFlow;
    if (FXonXoffOut) f |= dcbOutX;
    if (FXonXoffIn) f |= dcbInX;
    if (FDsrSensitivity) f |= dcbDsrSensitivity;
    if (FTxContinueOnXoff) f |= dcbTxContinueOnXoff;
    return f;
}

void TSerFlowControl::Assign(const TSerPersistent& source) {
    auto* s = dynamic_cast<const TSerFlowControl*>(&source);
    if (!s) CannotAssign(source, *this);
    BeginUpdate();
    SetOutCtsFlow(s->FOutCtsFlow);
    SetOutDsrFlow(s->FOutDsrFlow);
    SetControlDtr(s->FControlDtr);
    SetControlRts(s->FControlRts);
    SetXonXoffOut(s->FXonXoffOut);
    SetXonXoffIn(s->FXonXoffIn);
    SetDsrSensitivity(s->FDsrSensitivity);
    SetTxContinueOnXoff(s->FTxContinueOnXoff);
    EndUpdate();
}

void TSerEventChars::SetChar(int index, char value) {
    char* fields[] = {&FXonChar, &FXoffChar, &FErrorChar, &FEventChar, &FEofChar};
    if (index < 1 || index > 5) return;
    // The line takes NUL for "no flow character": the port would count an
    // XON as sent that never went, and the peer would stay stopped.
    if (value == 0 && index <= 2) throw ESerCommError(NulFlowCharText);
    char& field = *fields[index - 1];
    if (field == value) return;
    field = value;
    Changed();
}

void TSerEventChars::Assign(const TSerPersistent& source) {
    auto* s = dynamic_cast<const TSerEventChars*>(&source);
    if (!s) CannotAssign(source, *this);
    BeginUpdate();
    SetXonChar(s->FXonChar);
    SetXoffChar(s->FXoffChar);
    SetErrorChar(s->FErrorChar);
    SetEventChar(s->FEventChar);
    SetEofChar(s->FEofChar);
    EndUpdate();
}

const std::array<int32_t TSerBuffers::*, 6> TSerBuffers::AllFields = {
    &TSerBuffers::FReadSize,     &TSerBuffers::FWriteSize, &TSerBuffers::FReadTimeout,
    &TSerBuffers::FWriteTimeout, &TSerBuffers::FXonLimit,  &TSerBuffers::FXoffLimit};

TSerBuffers::TValues TSerBuffers::Values() const {
    TValues v{};
    for (size_t i = 0; i < v.size(); ++i) v[i] = this->*AllFields[i];
    return v;
}

void TSerBuffers::Store(int32_t& field, int32_t value) {
    if (value < 0) value = 0;
    if (field == value) return;
    const TValues before = Values();
    field = value;
    Announce(before, &TSerBuffers::Changed);
}

// A refused change must not stay behind: the port would report sizes it
// does not have.
void TSerBuffers::Announce(const TValues& before, void (TSerBuffers::*notify)()) {
    try {
        (this->*notify)();
    } catch (...) {
        for (size_t i = 0; i < before.size(); ++i) this->*AllFields[i] = before[i];
        throw;
    }
}

void TSerBuffers::Assign(const TSerPersistent& source) {
    auto* s = dynamic_cast<const TSerBuffers*>(&source);
    if (!s) CannotAssign(source, *this);
    const TValues before = Values();
    BeginUpdate();
    SetReadSize(s->FReadSize);
    SetWriteSize(s->FWriteSize);
    SetReadTimeout(s->FReadTimeout);
    SetWriteTimeout(s->FWriteTimeout);
    SetXonLimit(s->FXonLimit);
    SetXoffLimit(s->FXoffLimit);
    Announce(before, &TSerBuffers::EndUpdate);
}

} // namespace nuq
