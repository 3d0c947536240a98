#include "ftp/IdComponent.h"

namespace brindle {

std::string StatusText(TIdStatus status, const std::string& arg) {
  switch (status) {
    case hsResolving: return "Resolving hostname " + arg + ".";
    case hsConnecting: return "Connecting to " + arg + ".";
    case hsConnected: return "Connected.";
    case hsDisconnecting: return "Disconnecting.";
    case hsDisconnected: return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted: return arg;
  }
  return arg;
}

void TIdComponent::RaiseStatus(TIdStatus status, const std::string& arg) {
  if (OnStatus) OnStatus(this, status, StatusText(status, arg));
}

void TIdComponent::RaiseWorkBegin(TWorkMode mode, int64_t countMax) {
  WorkState& w = work_[static_cast<int>(mode)];
  if (++w.level == 1) {
    w.max = countMax;
    w.count = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, countMax);
  }
}

void TIdComponent::RaiseWork(TWorkMode mode, int64_t count) {
  WorkState& w = work_[static_cast<int>(mode)];
  if (w.level < 1) return;
  w.count += count;
  if (OnWork) OnWork(this, mode, w.count);
}

void TIdComponent::RaiseWorkEnd(TWorkMode mode) {
  WorkState& w = work_[static_cast<int>(mode)];
  if (w.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  if (w.level > 0) --w.level;
}

}  // namespace brindle
