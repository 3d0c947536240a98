// Copies a built page to the FTP server: one short connection per page.
#pragma once

#include <functional>
#include <string>

#include "ftp/IdFTP.h"

namespace brindle {

struct UploadResult {
  bool Ok = false;
  // Empty on success; otherwise the message of what failed (the user is
  // shown "Operation Failed"; this says why).
  std::string Reason;
};

// The name a built file is stored under: its path after the last '/', or
// after a leading drive ("C:") when it has no '/'.
std::string UploadFileName(const std::string& localPath);

// Connects `ftp` to `host` as `userId`/`password`, changes to `ftpFolder`
// when it is not empty (unchanged: no separator added, nothing created),
// stores `localPath` under its file name in ASCII mode, and disconnects. The
// caller sets Port, Passive and ReplyTimeout on `ftp` beforehand.
//
// `status` (may be empty) receives, in order, "Connecting", then every text
// the client's events would put in the status bar: its status texts,
// "FTP Connected", "<n> byte sent" while sending, and "" when the connection
// closes. It runs synchronously on the calling thread. The client's own
// event handlers are chained after it and restored on return.
//
// Never raises: every failure ends as Ok false with the failure's message in
// Reason, and `ftp` is left disconnected on every path.
UploadResult UploadPage(TIdFTP& ftp, const std::string& ftpFolder, const std::string& localPath,
                        const std::string& host, const std::string& userId,
                        const std::string& password,
                        const std::function<void(const std::string& statusText)>& status);

}  // namespace brindle
