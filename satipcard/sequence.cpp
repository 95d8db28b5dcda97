// RTP datagrams back in order: see sequence.h.
#include "satipcard/sequence.h"

#include <cstring>

namespace satipcard {

namespace {

// How far `a` lies after `b` on the 16-bit circle of sequence numbers.
int Distance(std::uint16_t a, std::uint16_t b) { return static_cast<std::int16_t>(a - b); }

}  // namespace

Sequencer::Sequencer(Deliver deliver, void* context)
    : deliver_(deliver), context_(context), slots_(kWindow), bytes_(kWindow * kSlotBytes) {}

void Sequencer::Take(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size,
                     Time now) {
  ++counts_.datagrams;
  int ahead = Distance(sequence, expected_);
  if (!started_ || ahead >= kNewRunDistance || ahead <= -kNewRunDistance) {
    Flush();
    started_ = true;
    expected_ = highest_ = sequence;
    ahead = 0;
  }
  if (ahead < 0) {
    ++counts_.late;
    return;
  }
  if (ahead >= static_cast<int>(kWindow)) {
    AdvanceTo(static_cast<std::uint16_t>(sequence - kWindow + 1));
  }
  Slot& slot = slots_[sequence % kWindow];
  if (slot.full && slot.sequence == sequence) {
    ++counts_.late;  // a second copy
    return;
  }
  if (Distance(sequence, highest_) < 0) {
    ++counts_.reordered;
  } else {
    highest_ = sequence;
  }
  if (sequence == expected_) {
    deliver_(context_, payload, size);
    ++expected_;
    DeliverReady();
    return;
  }
  if (size > kSlotBytes) {
    AdvanceTo(sequence);  // it cannot wait: those before it are given up
    deliver_(context_, payload, size);
    ++expected_;
    DeliverReady();
    return;
  }
  std::memcpy(SlotBytes(sequence % kWindow), payload, size);
  slot = {true, sequence, size, now};
  ++held_;
}

const Sequencer::Slot* Sequencer::FirstHeld() const {
  std::uint16_t at = expected_;
  for (std::size_t i = 0; held_ > 0 && i < kWindow; ++i, ++at) {
    const Slot& slot = slots_[at % kWindow];
    if (slot.full && slot.sequence == at) {
      return &slot;
    }
  }
  return nullptr;
}

void Sequencer::GiveUp(Time arrived) {
  for (const Slot* first = FirstHeld(); first != nullptr && first->arrived <= arrived;
       first = FirstHeld()) {
    AdvanceTo(first->sequence);
  }
}

Sequencer::Time Sequencer::OldestHeld() const {
  const Slot* first = FirstHeld();
  return first != nullptr ? first->arrived : Time();
}

void Sequencer::Flush() {
  if (held_ > 0) {
    AdvanceTo(static_cast<std::uint16_t>(highest_ + 1));
  }
}

void Sequencer::Restart() {
  Flush();
  started_ = false;
}

void Sequencer::AdvanceTo(std::uint16_t sequence) {
  while (expected_ != sequence) {
    Slot& slot = slots_[expected_ % kWindow];
    if (slot.full && slot.sequence == expected_) {
      deliver_(context_, SlotBytes(expected_ % kWindow), slot.size);
      slot.full = false;
      --held_;
    } else {
      ++counts_.missing;
    }
    ++expected_;
  }
  DeliverReady();
}

void Sequencer::DeliverReady() {
  while (held_ > 0) {
    Slot& slot = slots_[expected_ % kWindow];
    if (!slot.full || slot.sequence != expected_) {
      return;
    }
    deliver_(context_, SlotBytes(expected_ % kWindow), slot.size);
    slot.full = false;
    --held_;
    ++expected_;
  }
}

}  // namespace satipcard
