// One blocking TCP connection: line and stream I/O over an input queue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/IdComponent.h"
#include "ftp/IdIOHandlerSocket.h"
#include "ftp/IdManagedBuffer.h"
#include "ftp/IdStack.h"
#include "ftp/IdStream.h"

namespace brindle {

enum class TIdMaxLineAction { maException, maSplit };
using enum TIdMaxLineAction;

// Used from one thread, one call at a time. Waits pump the GUI through
// TIdAntiFreeze; a handler run by the pump must not call into the connection
// that is waiting. Destroying the connection drops its socket without events.
class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection();
  ~TIdTCPConnection() override;

  // Milliseconds a read with DefaultTimeout waits for the next bytes;
  // 0 waits without limit.
  int ReadTimeout = 0;
  int RecvBufferSize = 32768;
  int SendBufferSize = 32768;
  // Milliseconds a send may make no progress before it fails with socket
  // error 10060; 0 waits without limit. Applied when a socket is connected
  // or accepted.
  int SendTimeout = 0;
  int MaxLineLength = 16384;  // 0: no limit
  TIdMaxLineAction MaxLineAction = maException;
  TNotifyEvent OnDisconnected;

  TIdManagedBuffer& InputQueue() { return inputQueue_; }
  bool PeerClosed() const { return peerClosed_; }
  bool LineWasSplit() const { return lineWasSplit_; }
  bool LineTimedOut() const { return lineTimedOut_; }
  TIdIOHandlerSocket* IOHandler() const { return ioHandler_.get(); }
  // The socket record of the connection, null when there is none.
  TIdSocketHandle* Socket() const { return ioHandler_ ? ioHandler_->Binding() : nullptr; }

  // True when an I/O object exists and its socket is open; notices a peer
  // that has gone (see CheckDisconnect).
  bool IsConnected();
  // If connected: hsDisconnecting, drop the socket; a self-made I/O object
  // is discarded; then, if it had been connected, OnDisconnected and
  // hsDisconnected. Nothing happens (and no event) when not connected.
  void CloseConnection();
  // Closes the socket without events.
  void DropSocket();
  // When the peer has gone and the socket is still open: drop it, raise
  // hsDisconnected, then OnDisconnected. Raises EIdConnClosedGracefully when
  // disconnected and `raiseIfDisconnected` and (nothing is queued or
  // `ignoreQueue`).
  void CheckDisconnect(bool raiseIfDisconnected, bool ignoreQueue);

  // Receives once (waiting at most `timeout`) into the input queue. Answers
  // the bytes received, 0 when the peer closed, -1 on time-out unless
  // `raiseOnTimeout`, which raises EIdReadTimeout instead.
  long FillInputBuffer(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout);

  // The next line without its terminator (empty: LF, and a CR before the LF
  // is dropped too). `maxLength` -1 means MaxLineLength, 0 no limit; a
  // longer line raises EIdReadLnMaxLineLengthExceeded or, under maSplit,
  // is returned in pieces with LineWasSplit set. With an explicit `timeout`
  // that expires the answer is "" with LineTimedOut set; with DefaultTimeout
  // and a ReadTimeout expiry raises EIdReadTimeout. A peer that closes
  // before the terminator raises EIdConnClosedGracefully.
  std::string ReadLine(const std::string& terminator = {}, int timeout = DefaultTimeout,
                       int maxLength = -1);
  // The first line that is not blank, trimmed of bytes 0..32 at both ends,
  // trying at most `failCount` lines ("" when all were blank).
  std::string ReadNonEmptyLine(int failCount);

  // Sends every byte (one send call per piece the system takes). Raises
  // EIdNotConnected when closed; a peer that has gone raises the socket error
  // after the socket is dropped.
  void WriteBytes(const char* buf, size_t count);
  void Write(const std::string& text) { WriteBytes(text.data(), text.size()); }
  // `text` and CR LF in one send.
  void WriteLine(const std::string& text);
  // Sends the stream from its position (from 0 with `fromStart`) in pieces
  // of SendBufferSize bytes, raising OnWorkBegin, OnWork after every send
  // and OnWorkEnd (also on failure).
  void SendStream(TIdStream& stream, bool fromStart);

  // Takes an already connected socket as this connection (tools and tests,
  // e.g. one end of a socketpair). The connection owns it from then on.
  void AdoptSocket(int fd);

 protected:
  // Makes a fresh I/O object owned (and discarded on close) by the connection.
  TIdIOHandlerSocket& CreateIOHandler();
  void DiscardIOHandler() { ioHandler_.reset(); }
  void ResetForOpen();
  void ApplySocketOptions();

 private:
  void RemoveFromQueue(size_t count);
  std::string LineTooLong(size_t maxLength);

  std::unique_ptr<TIdIOHandlerSocket> ioHandler_;
  TIdManagedBuffer inputQueue_;
  std::vector<char> recvBuf_;
  std::vector<char> sendBuf_;
  bool peerClosed_ = false;
  bool lineWasSplit_ = false;
  bool lineTimedOut_ = false;
};

}  // namespace brindle
