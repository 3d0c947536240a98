// The I/O object of one TCP connection: owns its socket record.
#pragma once

#include <memory>
#include <string>

#include "ftp/IdComponent.h"
#include "ftp/IdSocketHandle.h"

namespace brindle {

// Raises the status events of resolving and connecting (as their sender)
// through the OnStatus handler its connection gives it.
class TIdIOHandlerSocket : public TIdComponent {
 public:
  TIdIOHandlerSocket() = default;

  // True leaves the system's Nagle setting alone; false disables Nagle.
  bool UseNagle = true;

  // Creates the socket record, or resets the existing one.
  void Open();
  // Closes the socket (shut down for sending first); the record stays.
  void Close();
  bool Connected() const { return binding_ && binding_->HandleAllocated(); }
  // The socket record; null before Open.
  TIdSocketHandle* Binding() const { return binding_.get(); }

  // Allocates a socket, binds it when a local address, port or port range is
  // asked for, resolves `host` (raising hsResolving unless it is dotted),
  // raises hsConnecting and connects: a timed connect when `timeout` is
  // neither DefaultTimeout nor 0 or when a GUI pump is in use (120 s then),
  // else a plain connect.
  void ConnectClient(const std::string& host, int port, const std::string& boundIP,
                     int boundPort, int portMin, int portMax, int timeout);

 private:
  std::unique_ptr<TIdSocketHandle> binding_;
};

}  // namespace brindle
