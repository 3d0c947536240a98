// brindle-cli build --ftp-settings against a real FTP server: the example
// site published end to end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "ftp/PyFtpServer.h"
#include "project/FileIO.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

class PublishTest : public ::testing::TestWithParam<bool> {
 protected:
  PublishTest() {
    dir_ = fs::temp_directory_path() / ("brindle-publish-" + std::to_string(::getpid()) + "-" +
                                        std::to_string(GetParam()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "site");
    fs::create_directories(dir_ / "home" / "www");
    Cli({"import", std::string(BRINDLE_SOURCE_DIR) + "/examples/demo.json", Project()});
    server_ = std::make_unique<test::PyFtpServer>((dir_ / "home").string(), dir_.string());
  }
  ~PublishTest() override {
    server_.reset();
    fs::remove_all(dir_);
  }

  std::string Project() const { return (dir_ / "demo.brp").string(); }

  int Cli(std::vector<std::string> args) {
    std::istringstream in;
    std::ostringstream out, err;
    int status = RunCli(args, in, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  std::vector<std::string> BuildArgs(const std::string& password) {
    std::string settings = (dir_ / "ftp.txt").string();
    WriteFileBytes(settings, std::string("127.0.0.1\r\n") + test::PyFtpServer::kUser + "\r\n" + password + "\r\n");
    std::vector<std::string> args{"build", Project(), "--ftp-settings", settings, "--port",
                                  std::to_string(server_->Port()), "--timeout", "30"};
    if (GetParam()) args.push_back("--passive");
    return args;
  }

  static constexpr const char* kPages[] = {"index.html", "about.html", "news.html", "contact.html", "notes.html"};

  fs::path dir_;
  std::unique_ptr<test::PyFtpServer> server_;
  std::string out_, err_;
};

// Pages go in ASCII mode, so a Unix server stores them with its own line
// ends: everything else arrives unchanged.
TEST_P(PublishTest, EveryFlaggedPageArrives) {
  ASSERT_EQ(Cli(BuildArgs(test::PyFtpServer::kPassword)), 0) << err_;
  for (const char* page : kPages) {
    std::string built = ReadFileBytes((dir_ / "site" / page).string()), unix;
    for (size_t i = 0; i < built.size(); ++i)
      if (!(built[i] == '\r' && i + 1 < built.size() && built[i + 1] == '\n')) unix += built[i];
    EXPECT_EQ(ReadFileBytes((dir_ / "home" / "www" / page).string()), unix) << page;
    EXPECT_NE(out_.find((dir_ / "site" / page).string() + "\n"), std::string::npos) << page;
  }
  // The status texts a status bar would show, in order.
  size_t connecting = err_.find("Connecting\n");
  size_t established = err_.find("Connection established\n");
  size_t sent = err_.find(" byte sent\n");
  size_t complete = err_.find("Transfer complete\n");
  EXPECT_TRUE(connecting < established && established < sent && sent < complete) << err_;
}

TEST_P(PublishTest, FailedUploadsAreReportedAndTheBuildGoesOn) {
  EXPECT_EQ(Cli(BuildArgs("wrong")), 1);
  for (const char* page : kPages) {
    EXPECT_TRUE(FileExists((dir_ / "site" / page).string())) << page;
    EXPECT_FALSE(FileExists((dir_ / "home" / "www" / page).string())) << page;
  }
  size_t failures = 0;
  for (size_t at = err_.find("Operation Failed"); at != std::string::npos; at = err_.find("Operation Failed", at + 1))
    ++failures;
  EXPECT_EQ(failures, 5u) << err_;
}

INSTANTIATE_TEST_SUITE_P(Modes, PublishTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

}  // namespace
}  // namespace brindle
