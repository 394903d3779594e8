#include "instrument/virtual/VirtualInstrument.h"

#include <algorithm>
#include <cmath>

using namespace instrument;

VirtualInstrument::VirtualInstrument() {
    Reset();
}

void VirtualInstrument::Reset() {
    state_.PollPeriod = state_.StoredPollPeriod;
    state_.Scale = state_.StoredScale;
    state_.Cursor = CursorFirst;
    phase_ = 0;
}

VirtualInstrument::Record VirtualInstrument::Fetch() {
    std::lock_guard<std::mutex> lock(mutex_);
    Record r{};
    constexpr double pi = 3.14159265358979323846;
    // S1: a sine of 60 samples' period; S2: a triangle with a little noise.
    for (int i = 0; i < SamplePoints; ++i) {
        const double s1 = 128.0 + 90.0 * std::sin(2.0 * pi * (i + phase_) / 60.0);
        const int t = static_cast<int>((i * 4 + phase_ * 2) % 160);
        noise_ = noise_ * 1103515245u + 12345u;
        const int jitter = static_cast<int>((noise_ >> 16) % 7) - 3;
        const int s2 = 40 + (t < 80 ? t : 160 - t) + jitter;
        r[SampleByte(0, i)] =
            static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(s1)), 0, 255));
        if (SampleByte(1, i) < RecordSize)
            r[SampleByte(1, i)] = static_cast<uint8_t>(std::clamp(s2, 0, 255));
    }
    uint8_t min1 = 255, max1 = 0, min2 = 255, max2 = 0;
    // Over the points before the last: S1's last point is the poll period byte (S2's is left
    // out alike).
    for (int i = 0; i < SamplePoints - 1; ++i) {
        min1 = std::min(min1, r[SampleByte(0, i)]);
        max1 = std::max(max1, r[SampleByte(0, i)]);
        min2 = std::min(min2, r[SampleByte(1, i)]);
        max2 = std::max(max2, r[SampleByte(1, i)]);
    }
    r[PollPeriod] = storedNext_ ? state_.StoredPollPeriod : state_.PollPeriod;
    r[OutputsByte] = static_cast<uint8_t>(state_.Os1 | (state_.Os2 << 1));
    r[ScaleByte] = storedNext_ ? state_.StoredScale : state_.Scale;
    r[MinS1] = min1;
    r[MaxS1] = max1;
    r[MinS2] = min2;
    r[MaxS2] = max2;
    r[CursorPos] = state_.Cursor;
    r[CommandCode] = command::Normal;
    storedNext_ = false;

    ++state_.Fetches;
    ++phase_;
    state_.Cursor = static_cast<uint8_t>(
        state_.Cursor + CursorStep > CursorLast ? CursorFirst : state_.Cursor + CursorStep);
    return r;
}

void VirtualInstrument::Receive(const Record& Sent) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_.Commands;
    state_.LastCommand = Sent[CommandCode];
    switch (Sent[CommandCode]) {
    case command::ReadStored:
        storedNext_ = true;
        break;
    case command::SaveStored:
        state_.StoredPollPeriod = Sent[PollPeriod];
        state_.PollPeriod = Sent[PollPeriod];
        break;
    case command::ResetWorking:
        Reset();
        break;
    case command::Os1Off:
    case command::Os1On:
        state_.Os1 = Sent[CommandCode] == command::Os1On;
        break;
    case command::Os2Off:
    case command::Os2On:
        state_.Os2 = Sent[CommandCode] == command::Os2On;
        break;
    default: // Normal and anything unknown: normal operation
        break;
    }
}

VirtualInstrument::State VirtualInstrument::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}
