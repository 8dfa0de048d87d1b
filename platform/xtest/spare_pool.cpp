// Spare keycode bookkeeping (see spare_pool.h).
#include "platform/xtest/spare_pool.h"

SparePool::Lease SparePool::Find(unsigned long lower, unsigned long upper) const {
  Lease lease;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].lower == lower && slots_[i].upper == upper && lower != 0) {
      lease.slot = static_cast<int>(i);
      return lease;
    }
  }
  // Least recently used among the slots not held; an empty slot counts as
  // used at its last use like any other, so freshly emptied ones still settle.
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].pins > 0)
      continue;
    if (lease.slot < 0 || slots_[i].lastUseUs < slots_[lease.slot].lastUseUs)
      lease.slot = static_cast<int>(i);
  }
  if (lease.slot >= 0) {
    lease.remap = true;
    lease.readyAtUs = slots_[lease.slot].lastUseUs + settleUs_;
  }
  return lease;
}

void SparePool::Assign(int slot, unsigned long lower, unsigned long upper) {
  slots_[slot].lower = lower;
  slots_[slot].upper = upper;
}

void SparePool::ClearAll() {
  for (SpareSlot &s : slots_)
    s.lower = s.upper = 0;
}

int SparePool::IndexOfKeycode(unsigned keycode) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].keycode == keycode)
      return static_cast<int>(i);
  return -1;
}
