// The exceptions of the FTP transport. Every one carries the exact text the
// user may see; callers catch EIdException to handle any of them.
#pragma once

#include <stdexcept>
#include <string>

namespace brindle {

class EIdException : public std::runtime_error {
 public:
  explicit EIdException(const std::string& message) : std::runtime_error(message) {}
};

// --- Socket layer ---

// A socket call failed. LastError() is the Windows Sockets number the
// platform error was mapped to (or the raw errno when it has no mapping).
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int code, const std::string& message) : EIdException(message), code_(code) {}
  int LastError() const { return code_; }
 private:
  int code_;
};

// A timed connect failed; the message is the socket error's message.
class EIdConnectException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdConnectTimeout : public EIdException {
 public:
  EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

class EIdConnClosedGracefully : public EIdException {
 public:
  EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

class EIdStackInitializationFailed : public EIdException {
 public:
  EIdStackInitializationFailed() : EIdException("Winsock Initialization Error.") {}
};

// Kept for callers that catch it; the POSIX socket layer needs no library
// loading, so nothing here raises it.
class EIdWS2StubError : public EIdException {
 public:
  using EIdException::EIdException;
};

// --- TCP connection ---

class EIdNotConnected : public EIdException {
 public:
  EIdNotConnected() : EIdException("Not Connected") {}
};

class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdReadTimeout : public EIdException {
 public:
  EIdReadTimeout() : EIdException("Read Timeout") {}
};

// The data connection of an active-mode transfer never arrived.
class EIdAcceptTimeout : public EIdException {
 public:
  EIdAcceptTimeout()
      : EIdException("Accept Timeout: the server never opened the data connection.") {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
 public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};

class EIdCouldNotBindSocket : public EIdException {
 public:
  EIdCouldNotBindSocket()
      : EIdException("Could not bind socket. Address and port are already in use.") {}
};

class EIdInvalidPortRange : public EIdException {
 public:
  EIdInvalidPortRange(int lo, int hi)
      : EIdException("Invalid Port Range (" + std::to_string(lo) + " - " + std::to_string(hi) + ")") {}
};

class EIdCanNotBindPortInRange : public EIdException {
 public:
  EIdCanNotBindPortInRange(int lo, int hi)
      : EIdException("Can not bind in port range (" + std::to_string(lo) + " - " +
                     std::to_string(hi) + ")") {}
};

class EIdNoDataToRead : public EIdException {
 public:
  EIdNoDataToRead() : EIdException("No data to read.") {}
};

class EIdNotEnoughDataInBuffer : public EIdException {
 public:
  EIdNotEnoughDataInBuffer() : EIdException("Not enough data in buffer.") {}
};

// --- FTP ---

// A reply the command did not accept. The message is the reply's text lines,
// each followed by CR LF; ReplyCode() is its numeric code.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int code, const std::string& message)
      : EIdException(message), code_(code) {}
  int ReplyCode() const { return code_; }
 private:
  int code_;
};

// A command whose argument holds a CR or LF: sent, it would reach the server
// as two commands. `verb` is the command's first word.
class EIdFTPLineBreakInCommand : public EIdException {
 public:
  explicit EIdFTPLineBreakInCommand(const std::string& verb)
      : EIdException("Cannot send " + verb + ": its argument contains a line break.") {}
};

// A passive-mode reply whose address could not be read.
class EIdFTPPassiveReplyError : public EIdException {
 public:
  explicit EIdFTPPassiveReplyError(const std::string& reply)
      : EIdException("Invalid passive mode reply: " + reply) {}
};

}  // namespace brindle
