// The FTP client (RFC 959): log in, change folder, store one file.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

#include "ftp/IdRFCReply.h"
#include "ftp/IdTCPClient.h"

namespace brindle {

enum class TIdFTPTransferType { ftASCII, ftBinary };
using enum TIdFTPTransferType;

// Every operation completes or raises (EIdProtocolReplyError for a refused
// reply, the socket and connection errors of the layers below, EFOpenError
// for a local file). Use from one thread; the events run synchronously
// inside the operations and must not call back into the client.
class TIdFTP : public TIdTCPClient {
 public:
  static constexpr int DefaultReplyTimeout = 120000;

  TIdFTP();
  ~TIdFTP() override;

  // Host and Port (21) are inherited from TIdTCPClient.
  std::string Username;
  std::string Password;
  // PASV instead of PORT for transfers (for clients behind NAT).
  bool Passive = false;
  // Milliseconds of silence after which a wait on the server gives up: a
  // reply (EIdReadTimeout "Read Timeout"), the data connection of an active
  // transfer (EIdAcceptTimeout), a send that makes no progress (socket error
  // 10060). A transfer that keeps moving never times out. 0 or less: no
  // limit. Takes effect at the next wait; the inherited ReadTimeout is set
  // from it before every reply.
  int ReplyTimeout = DefaultReplyTimeout;
  // Raised after a successful USER/PASS, before TYPE.
  TNotifyEvent OnAfterClientLogin;

  TIdFTPTransferType TransferType() const { return transferType_; }
  // Sends "TYPE A"/"TYPE I" when the value changes while connected; ignored
  // while a transfer runs.
  void SetTransferType(TIdFTPTransferType type);

  // Connects to Host:Port and reads the 220 welcome; with `autoLogin` sends
  // USER (and PASS on 331), TYPE and SYST and raises ftpReady "Connection
  // established". Any failure closes the connection before it is rethrown.
  void ConnectAndLogin(bool autoLogin = true, int timeout = DefaultTimeout);
  // "CWD " + folder, unchanged; accepts 200 and 250.
  void ChangeFolder(const std::string& folder);
  // Uploads `sourceFile` as `destName` ("STOR "; "APPE " with `append`;
  // "STOU " for an empty name). The file is opened and the name checked
  // for line breaks before anything is sent.
  // "Transfer complete" is reported whether the data went or not; a failure
  // leaves the control connection open. A 426 or 450 after the data is no
  // error: it is followed by a second reply and reported as ftpAborted.
  void StoreFile(const std::string& sourceFile, const std::string& destName, bool append);

  // Sends `command` + CR LF and reads the reply; raises EIdProtocolReplyError
  // unless its code is in `accepted` (empty accepts any). Returns the code.
  // A command holding CR or LF raises EIdFTPLineBreakInCommand unsent.
  int SendCommand(const std::string& command, std::initializer_list<int> accepted = {});
  // Reads one reply (single or multi-line) into LastReply; checks as above.
  int ReadReply(std::initializer_list<int> accepted = {});

  const TIdRFCReply& LastReply() const { return lastReply_; }
  const TIdRFCReply& WelcomeReply() const { return welcomeReply_; }
  const TIdRFCReply& LoginReply() const { return loginReply_; }
  const std::string& ServerSystem() const { return serverSystem_; }
  // The data connection; present only while a transfer runs.
  TIdTCPConnection* TransferConnection() const { return transfer_.get(); }

  // Text of the lines a reply may hold in all; longer replies are read to
  // their end but the rest of their text is dropped.
  static constexpr size_t kMaxReplyText = 1 << 20;

 private:
  void CopyTransferSettings(TIdTCPConnection& data);
  void StoreActive(TIdStream& source, const std::string& command, bool fromStart);
  void StorePassive(TIdStream& source, const std::string& command, bool fromStart);
  int SilenceLimit() const { return ReplyTimeout > 0 ? ReplyTimeout : 0; }

  TIdFTPTransferType transferType_ = ftBinary;
  TIdRFCReply lastReply_;
  TIdRFCReply welcomeReply_;
  TIdRFCReply loginReply_;
  std::string serverSystem_;
  std::unique_ptr<TIdTCPConnection> transfer_;
};

// The address and port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"
// reply text; false when it holds no such six numbers.
bool ParsePassiveReply(const std::string& text, std::string& host, int& port);
// Where to open a passive data connection: the address the server gave,
// unless it is 0.0.0.0 or a private one while the control connection goes to
// a public address (a server behind NAT naming its inside address); then the
// control connection's peer.
std::string ChoosePassiveHost(const std::string& replyHost, const std::string& controlPeer);

}  // namespace brindle
