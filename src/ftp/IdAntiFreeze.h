// The GUI pump: lets the one GUI thread keep serving its user interface while
// a socket call of the FTP transport waits on it.
#pragma once

#include <functional>
#include <thread>

namespace brindle {

// Creating one registers it as the process-wide pump; destroying it
// unregisters it. There is at most one per application, created and destroyed
// on the GUI thread: the thread that creates it is taken as the main thread,
// and only that thread ever pumps.
//
// What a pump does belongs to the application, which installs `OnProcess`:
// called with `all` true it must process every pending GUI event, with `all`
// false at most one. The callback runs on the main thread in the middle of a
// socket wait; it must not start another operation on the connection that is
// waiting. Without a callback (the command-line tool) pumping does nothing.
class TIdAntiFreeze {
 public:
  TIdAntiFreeze();
  ~TIdAntiFreeze();
  TIdAntiFreeze(const TIdAntiFreeze&) = delete;
  TIdAntiFreeze& operator=(const TIdAntiFreeze&) = delete;

  bool Active = true;
  bool ApplicationHasPriority = true;
  int IdleTimeOut = 250;  // milliseconds of each wait slice
  bool OnlyWhenIdle = true;
  std::function<void(bool all)> OnProcess;

  // True when a pump is registered and active and the caller is its main
  // thread.
  static bool PumpInUse();
  // Runs the pump when PumpInUse() and (idle, or !OnlyWhenIdle, or override).
  static void Pump(bool idle, bool override = false);
  // The registered pump's IdleTimeOut (250 when none is registered).
  static int CurrentIdleTimeOut();

 private:
  std::thread::id mainThread_;
};

}  // namespace brindle
