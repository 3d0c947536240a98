// Status and work events shared by every object of the FTP transport.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brindle {

enum class TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted,
};
using enum TIdStatus;

enum class TWorkMode { wmRead, wmWrite };
using enum TWorkMode;

// The status text of `status`, formatted with `arg` where the entry has a
// "%s" ("Resolving hostname %s.", "Connecting to %s.", "%s", ...).
std::string StatusText(TIdStatus status, const std::string& arg = {});

class TIdComponent;

// Events receive the object that raised them. They run synchronously on the
// thread of the operation (the GUI thread in the app), in the middle of it;
// a handler must not start another operation on the same connection.
using TIdStatusEvent = std::function<void(TIdComponent* sender, TIdStatus status, const std::string& text)>;
using TWorkBeginEvent = std::function<void(TIdComponent* sender, TWorkMode mode, int64_t countMax)>;
using TWorkEvent = std::function<void(TIdComponent* sender, TWorkMode mode, int64_t count)>;
using TWorkEndEvent = std::function<void(TIdComponent* sender, TWorkMode mode)>;
using TNotifyEvent = std::function<void(TIdComponent* sender)>;

class TIdComponent {
 public:
  TIdComponent() = default;
  virtual ~TIdComponent() = default;
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  TIdStatusEvent OnStatus;
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  // Formats and raises OnStatus; nothing is formatted without a handler.
  void RaiseStatus(TIdStatus status, const std::string& arg = {});
  // Work events nest per mode: only the outermost begin and end reach the
  // handlers, and RaiseWork counts only inside a begun work.
  void RaiseWorkBegin(TWorkMode mode, int64_t countMax);
  void RaiseWork(TWorkMode mode, int64_t count);
  void RaiseWorkEnd(TWorkMode mode);

 private:
  struct WorkState {
    int level = 0;
    int64_t max = 0;
    int64_t count = 0;
  };
  WorkState work_[2];
};

}  // namespace brindle
