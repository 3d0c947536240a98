#include "ftp/IdFTP.h"

#include <algorithm>
#include <climits>
#include <exception>

#include "ftp/IdSimpleServer.h"
#include "ftp/IdStream.h"

namespace brindle {

namespace {

// One command is one line: a CR or LF inside it would make the server see
// two commands and put every later reply out of step with its command.
void CheckOneLine(const std::string& command) {
  if (command.find_first_of("\r\n") != std::string::npos)
    throw EIdFTPLineBreakInCommand(command.substr(0, command.find(' ')));
}

}  // namespace

TIdFTP::TIdFTP() { Port = 21; }

TIdFTP::~TIdFTP() = default;

int TIdFTP::ReadReply(std::initializer_list<int> accepted) {
  ReadTimeout = SilenceLimit();
  std::vector<std::string> lines;
  size_t kept = 0;
  auto keep = [&](std::string line) {
    if (kept + line.size() > kMaxReplyText) return;
    kept += line.size();
    lines.push_back(std::move(line));
  };
  std::string first = ReadNonEmptyLine(INT_MAX);
  std::string endMarker;
  bool multi = TIdRFCReply::StartsMultiLine(first, endMarker);
  keep(std::move(first));
  if (multi) {
    for (;;) {
      std::string line = ReadNonEmptyLine(INT_MAX);
      bool last = TIdRFCReply::EndsMultiLine(line, endMarker);
      keep(std::move(line));
      if (last) break;
    }
  }
  lastReply_.Parse(lines);
  int code = lastReply_.NumericCode;
  if (accepted.size() != 0 && std::find(accepted.begin(), accepted.end(), code) == accepted.end())
    throw EIdProtocolReplyError(code, lastReply_.FormattedText());
  return code;
}

int TIdFTP::SendCommand(const std::string& command, std::initializer_list<int> accepted) {
  CheckOneLine(command);
  WriteLine(command);
  return ReadReply(accepted);
}

void TIdFTP::ConnectAndLogin(bool autoLogin, int timeout) {
  try {
    SendTimeout = SilenceLimit();
    OpenConnection(timeout);
    ReadReply({220});
    welcomeReply_ = lastReply_;
    if (!autoLogin) return;
    if (SendCommand("USER " + Username, {230, 331}) == 331) SendCommand("PASS " + Password, {230});
    loginReply_ = lastReply_;
    if (OnAfterClientLogin) OnAfterClientLogin(this);
    SendCommand(transferType_ == ftASCII ? "TYPE A" : "TYPE I", {200});
    if (SendCommand("SYST", {200, 215, 500}) == 500) {
      serverSystem_ = "Unknown";
    } else {
      serverSystem_ = lastReply_.Text.empty() ? std::string() : lastReply_.Text.front();
    }
    RaiseStatus(ftpReady, "Connection established");
  } catch (...) {
    CloseConnection();
    throw;
  }
}

void TIdFTP::ChangeFolder(const std::string& folder) { SendCommand("CWD " + folder, {200, 250}); }

void TIdFTP::SetTransferType(TIdFTPTransferType type) {
  if (type == transferType_ || transfer_) return;
  transferType_ = type;
  if (IsConnected()) SendCommand(type == ftASCII ? "TYPE A" : "TYPE I", {200});
}

void TIdFTP::CopyTransferSettings(TIdTCPConnection& data) {
  data.SendBufferSize = SendBufferSize;
  data.RecvBufferSize = RecvBufferSize;
  data.SendTimeout = SilenceLimit();
  data.OnWorkBegin = OnWorkBegin;
  data.OnWork = OnWork;
  data.OnWorkEnd = OnWorkEnd;
  // The data connection raises no status events.
}

void TIdFTP::StoreActive(TIdStream& source, const std::string& command, bool fromStart) {
  auto owned = std::make_unique<TIdSimpleServer>();
  TIdSimpleServer& server = *owned;
  CopyTransferSettings(server);
  server.AcceptTimeout = ReplyTimeout > 0 ? ReplyTimeout : InfiniteTimeout;
  server.BoundIP = Socket()->IP;
  server.BoundPort = 0;
  transfer_ = std::move(owned);
  // Listen before PORT: some servers connect as soon as they get it.
  server.BeginListening();
  std::string address = server.ListenIP();
  std::replace(address.begin(), address.end(), '.', ',');
  int port = server.ListenPort();
  SendCommand("PORT " + address + "," + std::to_string(port / 256) + "," +
                  std::to_string(port % 256),
              {200});
  SendCommand(command, {125, 150});
  // Accept only after the 1xx reply: other servers connect only then. A
  // reply that comes instead (a 425, say) ends the wait with its own text
  // rather than after the whole time-out; one already received with the 1xx
  // leaves only a connection already pending to be taken.
  server.AbortWhenReadable = Socket()->Handle();
  const bool replyWaiting = InputQueue().Size() > 0;
  if (replyWaiting) server.AcceptTimeout = 0;
  if (!server.AcceptOne()) {
    if (!server.Abort && !replyWaiting) throw EIdAcceptTimeout();
    ReadReply();  // raises when the control connection has gone instead
    throw EIdProtocolReplyError(lastReply_.NumericCode, lastReply_.FormattedText());
  }
  server.SendStream(source, fromStart);
}

void TIdFTP::StorePassive(TIdStream& source, const std::string& command, bool fromStart) {
  SendCommand("PASV", {227});
  std::string text;
  for (const std::string& line : lastReply_.Text) text += line + " ";
  std::string host;
  int port = 0;
  if (!ParsePassiveReply(text, host, port)) throw EIdFTPPassiveReplyError(lastReply_.FormattedText());
  auto owned = std::make_unique<TIdTCPClient>();
  TIdTCPClient& client = *owned;
  CopyTransferSettings(client);
  client.Host = ChoosePassiveHost(host, Socket()->PeerIP);
  client.Port = port;
  transfer_ = std::move(owned);
  client.OpenConnection(ReplyTimeout > 0 ? ReplyTimeout : InfiniteTimeout);
  SendCommand(command, {125, 150});
  client.SendStream(source, fromStart);
}

void TIdFTP::StoreFile(const std::string& sourceFile, const std::string& destName, bool append) {
  TIdFileStream source(sourceFile);
  std::string command;
  bool fromStart = true;
  if (destName.empty()) {
    command = "STOU ";
  } else if (append) {
    command = "APPE " + destName;
    fromStart = false;
  } else {
    command = "STOR " + destName;
  }
  CheckOneLine(command);  // before the data connection is set up
  RaiseStatus(ftpTransfer, "Starting FTP transfer");
  std::exception_ptr failure;
  try {
    if (!IsConnected()) throw EIdNotConnected();
    if (Passive) StorePassive(source, command, fromStart);
    else StoreActive(source, command, fromStart);
  } catch (...) {
    failure = std::current_exception();
  }
  // Closing the data connection (shut down for sending first) tells the
  // server that the file is complete.
  transfer_.reset();
  RaiseStatus(ftpReady, "Transfer complete");
  if (failure) std::rethrow_exception(failure);
  int code = ReadReply({225, 226, 250, 426, 450});
  if (code == 426 || code == 450) {
    ReadReply({226, 225});
    RaiseStatus(ftpAborted, "Transfer aborted");
  }
}

bool ParsePassiveReply(const std::string& text, std::string& host, int& port) {
  // The first run of six comma-separated numbers of 0..255.
  for (size_t start = 0; start < text.size(); ++start) {
    if (text[start] < '0' || text[start] > '9') continue;
    if (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') continue;
    int nums[6];
    size_t i = start;
    int count = 0;
    while (count < 6) {
      size_t digits = 0;
      int v = 0;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
        v = v * 10 + (text[i] - '0');
        ++i;
        ++digits;
      }
      if (digits == 0 || digits > 3 || v > 255) break;
      nums[count++] = v;
      if (count < 6) {
        if (i >= text.size() || text[i] != ',') break;
        ++i;
      }
    }
    if (count == 6) {
      host = std::to_string(nums[0]) + "." + std::to_string(nums[1]) + "." +
             std::to_string(nums[2]) + "." + std::to_string(nums[3]);
      port = nums[4] * 256 + nums[5];
      return port != 0;
    }
  }
  return false;
}

namespace {

// Loopback, private, link-local, shared (carrier NAT) and unspecified
// addresses: ones that only mean something on the server's own network.
bool IsInsideAddress(const std::string& dotted) {
  unsigned a = 0, b = 0;
  size_t dot = dotted.find('.');
  if (dot == std::string::npos) return false;
  a = static_cast<unsigned>(std::stoi(dotted.substr(0, dot)));
  size_t dot2 = dotted.find('.', dot + 1);
  b = static_cast<unsigned>(std::stoi(dotted.substr(dot + 1, dot2 - dot - 1)));
  return a == 0 || a == 10 || a == 127 || (a == 172 && b >= 16 && b <= 31) ||
         (a == 192 && b == 168) || (a == 169 && b == 254) || (a == 100 && b >= 64 && b <= 127);
}

}  // namespace

std::string ChoosePassiveHost(const std::string& replyHost, const std::string& controlPeer) {
  if (controlPeer.empty()) return replyHost;
  if (replyHost == "0.0.0.0") return controlPeer;
  if (IsInsideAddress(replyHost) && !IsInsideAddress(controlPeer)) return controlPeer;
  return replyHost;
}

}  // namespace brindle
