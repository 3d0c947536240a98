#include "build/Upload.h"

#include <exception>

namespace brindle {

namespace {

// Installs the status-bar handlers on the client for one upload and puts
// the previous ones back afterwards.
class ScopedHandlers {
 public:
  ScopedHandlers(TIdFTP& ftp, const std::function<void(const std::string&)>& status)
      : ftp_(ftp),
        onStatus_(ftp.OnStatus),
        onConnected_(ftp.OnConnected),
        onDisconnected_(ftp.OnDisconnected),
        onWork_(ftp.OnWork) {
    auto show = [status](const std::string& text) {
      if (status) status(text);
    };
    ftp.OnStatus = [show, prev = onStatus_](TIdComponent* s, TIdStatus st, const std::string& text) {
      show(text);
      if (prev) prev(s, st, text);
    };
    ftp.OnConnected = [show, prev = onConnected_](TIdComponent* s) {
      show("FTP Connected");
      if (prev) prev(s);
    };
    ftp.OnDisconnected = [show, prev = onDisconnected_](TIdComponent* s) {
      show("");
      if (prev) prev(s);
    };
    ftp.OnWork = [show, prev = onWork_](TIdComponent* s, TWorkMode mode, int64_t count) {
      show(std::to_string(count) + " byte sent");
      if (prev) prev(s, mode, count);
    };
  }
  ~ScopedHandlers() {
    ftp_.OnStatus = onStatus_;
    ftp_.OnConnected = onConnected_;
    ftp_.OnDisconnected = onDisconnected_;
    ftp_.OnWork = onWork_;
  }
  ScopedHandlers(const ScopedHandlers&) = delete;
  ScopedHandlers& operator=(const ScopedHandlers&) = delete;

 private:
  TIdFTP& ftp_;
  TIdStatusEvent onStatus_;
  TNotifyEvent onConnected_;
  TNotifyEvent onDisconnected_;
  TWorkEvent onWork_;
};

std::string MessageOf(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "Unknown error";
  }
}

// Closing must not turn a reported failure into a thrown one.
void CloseQuietly(TIdFTP& ftp) {
  try {
    ftp.CloseConnection();
  } catch (...) {
  }
}

}  // namespace

std::string UploadFileName(const std::string& localPath) {
  size_t p = localPath.rfind('/');
  if (p != std::string::npos) return localPath.substr(p + 1);
  // A drive ("C:") ends the folder part too; any other colon is an ordinary
  // byte of a Linux file name.
  const char c = localPath.size() >= 2 && localPath[1] == ':' ? localPath[0] : '\0';
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return localPath.substr(2);
  return localPath;
}

UploadResult UploadPage(TIdFTP& ftp, const std::string& ftpFolder, const std::string& localPath,
                        const std::string& host, const std::string& userId,
                        const std::string& password,
                        const std::function<void(const std::string& statusText)>& status) {
  ScopedHandlers handlers(ftp, status);
  ftp.Username = userId;
  ftp.Password = password;
  ftp.Host = host;
  if (status) status("Connecting");

  try {
    ftp.ConnectAndLogin(true, DefaultTimeout);
    if (!ftpFolder.empty()) ftp.ChangeFolder(ftpFolder);
  } catch (...) {
    std::exception_ptr e = std::current_exception();
    CloseQuietly(ftp);
    return {false, MessageOf(e)};
  }

  try {
    if (!ftp.IsConnected()) return {false, "Not Connected"};
    ftp.SetTransferType(ftASCII);
    ftp.StoreFile(localPath, UploadFileName(localPath), false);
  } catch (...) {
    std::exception_ptr e = std::current_exception();
    CloseQuietly(ftp);
    return {false, MessageOf(e)};
  }
  CloseQuietly(ftp);
  return {true, {}};
}

}  // namespace brindle
