#include "ftp/IdAntiFreeze.h"

#include <atomic>

namespace brindle {

namespace {
std::atomic<TIdAntiFreeze*> gAntiFreeze{nullptr};
}  // namespace

TIdAntiFreeze::TIdAntiFreeze() : mainThread_(std::this_thread::get_id()) {
  gAntiFreeze.store(this);
}

TIdAntiFreeze::~TIdAntiFreeze() {
  TIdAntiFreeze* self = this;
  gAntiFreeze.compare_exchange_strong(self, nullptr);
}

bool TIdAntiFreeze::PumpInUse() {
  TIdAntiFreeze* af = gAntiFreeze.load();
  return af && af->Active && af->mainThread_ == std::this_thread::get_id();
}

void TIdAntiFreeze::Pump(bool idle, bool override) {
  if (!PumpInUse()) return;
  TIdAntiFreeze* af = gAntiFreeze.load();
  if (!(idle || !af->OnlyWhenIdle || override)) return;
  if (af->OnProcess) af->OnProcess(af->ApplicationHasPriority);
}

int TIdAntiFreeze::CurrentIdleTimeOut() {
  TIdAntiFreeze* af = gAntiFreeze.load();
  return af ? af->IdleTimeOut : 250;
}

}  // namespace brindle
