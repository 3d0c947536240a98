#include "ftp/IdTCPConnection.h"

#include "ftp/IdRFCReply.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "ftp/IdAntiFreeze.h"

namespace brindle {

TIdTCPConnection::TIdTCPConnection() = default;
TIdTCPConnection::~TIdTCPConnection() = default;

TIdIOHandlerSocket& TIdTCPConnection::CreateIOHandler() {
  ioHandler_ = std::make_unique<TIdIOHandlerSocket>();
  ioHandler_->OnStatus = OnStatus;
  return *ioHandler_;
}

void TIdTCPConnection::ResetForOpen() {
  inputQueue_.Clear();
  peerClosed_ = false;
}

void TIdTCPConnection::ApplySocketOptions() {
  if (SendTimeout > 0 && Socket()) Socket()->SetSendTimeout(SendTimeout);
}

void TIdTCPConnection::AdoptSocket(int fd) {
  if (IsConnected()) {
    throw EIdAlreadyConnected();
  }
  CreateIOHandler().Open();
  ResetForOpen();
  ioHandler_->Binding()->Adopt(fd);
  ApplySocketOptions();
}

bool TIdTCPConnection::IsConnected() {
  CheckDisconnect(false, false);
  return ioHandler_ && ioHandler_->Connected();
}

void TIdTCPConnection::DropSocket() {
  if (!ioHandler_) return;
  peerClosed_ = true;
  ioHandler_->Close();
}

void TIdTCPConnection::CloseConnection() {
  bool wasConnected = IsConnected();
  if (wasConnected) {
    RaiseStatus(hsDisconnecting);
    DropSocket();
  }
  ioHandler_.reset();
  if (wasConnected) {
    if (OnDisconnected) OnDisconnected(this);
    RaiseStatus(hsDisconnected);
  }
}

void TIdTCPConnection::CheckDisconnect(bool raiseIfDisconnected, bool ignoreQueue) {
  bool disconnected = false;
  if (peerClosed_ || !ioHandler_) {
    if (ioHandler_) {
      if (ioHandler_->Connected()) {
        DropSocket();
        RaiseStatus(hsDisconnected);
        if (OnDisconnected) OnDisconnected(this);
      }
      disconnected = true;
    }
  } else {
    disconnected = !ioHandler_->Connected();
  }
  if (disconnected && raiseIfDisconnected && (inputQueue_.Size() == 0 || ignoreQueue))
    throw EIdConnClosedGracefully();
}

long TIdTCPConnection::FillInputBuffer(bool raiseIfDisconnected, int timeout,
                                       bool raiseOnTimeout) {
  if (timeout == DefaultTimeout) timeout = ReadTimeout != 0 ? ReadTimeout : InfiniteTimeout;
  CheckDisconnect(raiseIfDisconnected, false);
  if (!IsConnected()) {
    if (raiseIfDisconnected) throw EIdNotConnected();
    return 0;
  }
  if (recvBuf_.size() != static_cast<size_t>(RecvBufferSize))
    recvBuf_.resize(static_cast<size_t>(RecvBufferSize > 0 ? RecvBufferSize : 32768));
  long n;
  do {
    if (!TIdStack::WaitReadable(Socket()->Handle(), timeout)) {
      if (raiseOnTimeout) throw EIdReadTimeout();
      return -1;
    }
    // The pump may have run a handler that closed the connection.
    if (!ioHandler_ || !ioHandler_->Connected()) {
      if (raiseIfDisconnected) throw EIdNotConnected();
      return 0;
    }
    do {
      n = Socket()->Recv(recvBuf_.data(), recvBuf_.size());
    } while (n < 0 && errno == EINTR);
    peerClosed_ = n == 0;
    if (n < 0) {
      int code = TIdStack::CaptureErrno();
      if (code == Id_WSAESHUTDOWN || code == Id_WSAECONNABORTED) {
        DropSocket();
        if (inputQueue_.Size() == 0) TIdStack::RaiseSocketError(code);
        n = 0;
      } else {
        TIdStack::RaiseSocketError(code);
      }
    }
    if (n > 0) inputQueue_.Append(recvBuf_.data(), static_cast<size_t>(n));
    CheckDisconnect(raiseIfDisconnected, false);
  } while (n == 0 && ioHandler_ && ioHandler_->Connected());
  return n;
}

void TIdTCPConnection::RemoveFromQueue(size_t count) {
  inputQueue_.Remove(count);
  RaiseWork(wmRead, static_cast<int64_t>(count));
}

std::string TIdTCPConnection::LineTooLong(size_t maxLength) {
  if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
  lineWasSplit_ = true;
  std::string piece(inputQueue_.Data(), maxLength);
  RemoveFromQueue(maxLength);
  return piece;
}

std::string TIdTCPConnection::ReadLine(const std::string& terminatorIn, int timeout,
                                       int maxLengthIn) {
  const std::string terminator = terminatorIn.empty() ? std::string("\n") : terminatorIn;
  const size_t maxLength = static_cast<size_t>(maxLengthIn < 0 ? MaxLineLength : maxLengthIn);
  lineWasSplit_ = false;
  lineTimedOut_ = false;
  size_t scanned = 0;
  size_t found = std::string::npos;
  for (;;) {
    size_t size = inputQueue_.Size();
    if (size > 0 && size > scanned) {
      // Resume where the last search ended (less a terminator's length, so
      // a terminator split across receives is still found).
      size_t from = scanned >= terminator.size() - 1 ? scanned - (terminator.size() - 1) : 0;
      std::string_view queued(inputQueue_.Data(), size);
      found = queued.find(terminator, from);
      scanned = size;
    }
    if (found != std::string::npos) {
      if (maxLength != 0 && found > maxLength) return LineTooLong(maxLength);
      break;
    }
    if (maxLength != 0 && scanned > maxLength) return LineTooLong(maxLength);
    CheckDisconnect(true, true);
    if (FillInputBuffer(true, timeout, timeout == DefaultTimeout) == -1) {
      lineTimedOut_ = true;
      return {};
    }
  }
  std::string line(inputQueue_.Data(), found);
  RemoveFromQueue(found + terminator.size());
  if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}


std::string TIdTCPConnection::ReadNonEmptyLine(int failCount) {
  for (int i = 0; i < failCount; ++i) {
    std::string line = Trim(ReadLine("\n", DefaultTimeout, -1));
    if (!line.empty()) return line;
  }
  return {};
}

void TIdTCPConnection::WriteBytes(const char* buf, size_t count) {
  if (count == 0 || buf == nullptr) return;
  CheckDisconnect(true, true);
  if (!IsConnected()) throw EIdNotConnected();
  size_t pos = 0;
  while (pos < count) {
    long n = Socket()->Send(buf + pos, count - pos);
    if (n < 0 && errno == EINTR) continue;
    int code = n < 0 ? TIdStack::CaptureErrno() : 0;
    TIdAntiFreeze::Pump(false);
    peerClosed_ = n == 0;
    CheckDisconnect(true, false);
    if (n < 0) {
      if (code == Id_WSAESHUTDOWN || code == Id_WSAECONNABORTED || code == Id_WSAECONNRESET) {
        DropSocket();
        TIdStack::RaiseSocketError(code);
      }
      // A send that made no progress for SendTimeout: to the user the
      // connection timed out.
      if (code == 10035) code = Id_WSAETIMEDOUT;
      TIdStack::RaiseSocketError(code);
    }
    RaiseWork(wmWrite, n);
    pos += static_cast<size_t>(n);
  }
}

void TIdTCPConnection::WriteLine(const std::string& text) {
  std::string line;
  line.reserve(text.size() + 2);
  line += text;
  line += "\r\n";
  WriteBytes(line.data(), line.size());
}

void TIdTCPConnection::SendStream(TIdStream& stream, bool fromStart) {
  if (fromStart) stream.SetPosition(0);
  const int64_t end = stream.Size();
  RaiseWorkBegin(wmWrite, end - stream.Position());
  try {
    size_t piece = static_cast<size_t>(SendBufferSize > 0 ? SendBufferSize : 32768);
    if (sendBuf_.size() != piece) sendBuf_.resize(piece);
    for (;;) {
      int64_t left = end - stream.Position();
      if (left <= 0) break;
      size_t want = left < static_cast<int64_t>(piece) ? static_cast<size_t>(left) : piece;
      size_t got = stream.Read(sendBuf_.data(), want);
      if (got == 0) throw EIdNoDataToRead();
      WriteBytes(sendBuf_.data(), got);
    }
  } catch (...) {
    RaiseWorkEnd(wmWrite);
    throw;
  }
  RaiseWorkEnd(wmWrite);
}

}  // namespace brindle
