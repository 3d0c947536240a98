// FTP upload throughput on loopback, the client's side of bench/ftp.sh.
//
//   ftp_upload big  PORT USER PASS FILE        one STOR of FILE (binary)
//   ftp_upload many PORT USER PASS DIR COUNT   COUNT built pages uploaded as
//                                              the app does: one connection
//                                              each, ASCII mode
// Prints the seconds taken.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "build/Upload.h"
#include "ftp/IdFTP.h"

using namespace brindle;

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: ftp_upload big|many PORT USER PASS FILE|DIR [COUNT]\n");
    return 2;
  }
  std::string mode = argv[1];
  TIdFTP ftp;
  ftp.Port = std::atoi(argv[2]);
  std::string user = argv[3], pass = argv[4], target = argv[5];
  auto t0 = std::chrono::steady_clock::now();
  if (mode == "big") {
    ftp.Host = "127.0.0.1";
    ftp.Username = user;
    ftp.Password = pass;
    ftp.ConnectAndLogin();
    ftp.SetTransferType(ftBinary);
    ftp.StoreFile(target, "big.bin", false);
    ftp.CloseConnection();
  } else {
    int count = argc > 6 ? std::atoi(argv[6]) : 1000;
    char name[64];
    for (int i = 0; i < count; ++i) {
      std::snprintf(name, sizeof name, "/f%04d.html", i);
      ftp.SetTransferType(ftASCII);
      UploadResult r = UploadPage(ftp, "", target + name, "127.0.0.1", user, pass, {});
      if (!r.Ok) {
        std::fprintf(stderr, "upload %d failed: %s\n", i, r.Reason.c_str());
        return 1;
      }
    }
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%.4f\n", s);
  return 0;
}
