#include "cli/Cli.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "ftp/FtpTestUtil.h"
#include "project/FileIO.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status;
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    dir_ = fs::temp_directory_path() /
           ("brindle-cli-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~CliTest() override { fs::remove_all(dir_); }

  std::string P(const std::string& name) const { return (dir_ / name).string(); }

  CliRun Cli(std::vector<std::string> args, const std::string& in = "") {
    std::istringstream is(in);
    std::ostringstream os, es;
    int s = RunCli(args, is, os, es);
    return {s, os.str(), es.str()};
  }

  // Writes `json` and imports it as project `name`.
  std::string Import(const std::string& json, const std::string& name = "p.brp") {
    WriteFileBytes(P("in.json"), json);
    CliRun r = Cli({"import", P("in.json"), P(name)});
    EXPECT_EQ(r.status, 0) << r.err;
    return P(name);
  }

  std::string Site() {
    return R"({"format":4,"nodes":[
      {"key":"Pages","structure":3,"pages":[
        {"name":"One","template":"T","localFolder":")" + dir_.string() + R"(","fileName":"one.html","values":[{"name":"t","value":"first"}]},
        {"name":"Two","template":"T","localFolder":")" + dir_.string() + R"(","fileName":"two.html","copyToFtp":true}]},
      {"key":"Temps","structure":2,"templates":[{"name":"T","text":"%t%|%site%","localVars":["t"]}]},
      {"key":"Vars","structure":1,"vars":[{"name":"site","value":"S"}]}]})";
  }

  fs::path dir_;
};

TEST_F(CliTest, ExportImportRoundTripIsLossless) {
  std::string json = R"({"format":4,"nodes":[
    {"key":"Footer","structure":4,"text":"f\u00e9"},
    {"key":"Odd","structure":9},
    {"key":"Pages","structure":3,"pages":[{"name":"P","template":"T","localFolder":"/x","fileName":"p.html","ftpFolder":"www","copyToFtp":true,"values":[{"name":"a","value":{"hex":"ff01fe"}}]}]},
    {"key":"Temps","structure":2,"templates":[{"name":"T","text":"<%a%>\r\n","localVars":["a","b"]}]},
    {"key":"Vars","structure":1,"vars":[{"name":"n","value":"v"}]}]})";
  std::string project = Import(json);
  CliRun first = Cli({"export", project});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find(R"("hex": "ff01fe")"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("\"key\": \"Odd\""), std::string::npos);
  std::string second = Import(first.out, "q.brp");
  EXPECT_EQ(ReadFileBytes(project), ReadFileBytes(second));
  EXPECT_EQ(Cli({"export", second}).out, first.out);
}

TEST_F(CliTest, MalformedJsonNamesThePlaceAndWritesNothing) {
  struct Case { std::string json, place; };
  for (const Case& c : std::vector<Case>{
           {"{\"nodes\": [", "parse error at line 1, column 12"},
           {R"({"nodes":[{"key":"Vars","structure":1,"vars":[{"name":1}]}]})", "nodes[0].vars[0].name: expected a string"},
           {R"({"nodes":[{"key":"Pages","structure":3,"pages":[{"copyToFtp":"yes"}]}]})", "nodes[0].pages[0].copyToFtp"},
           {R"({"nodes":[{"key":"A_B","structure":4,"text":""}]})", "nodes[0].key"},
           {R"({"nodes":[{"key":"Vars","structure":1,"varz":[]}]})", "unknown field \"varz\""},
           {R"({"nodes":[{"key":"X","structure":4294967296}]})", "nodes[0].structure"},
       }) {
    WriteFileBytes(P("bad.json"), c.json);
    CliRun r = Cli({"import", P("bad.json"), P("out.brp")});
    EXPECT_EQ(r.status, 2) << c.json;
    EXPECT_NE(r.err.find(c.place), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(P("out.brp"))) << c.json;
  }
}

TEST_F(CliTest, BuildPrintsEachPathAndHonoursPageOrder) {
  std::string project = Import(Site());
  CliRun all = Cli({"build", project});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, P("one.html") + "\n" + P("two.html") + "\n");
  EXPECT_NE(all.err.find("1 page is marked \"Copy File to FTP Server\" but was not uploaded"), std::string::npos)
      << all.err;
  EXPECT_EQ(ReadFileBytes(P("one.html")), "first|S\r\n");
  EXPECT_EQ(ReadFileBytes(P("two.html")), "|S\r\n");

  CliRun some = Cli({"build", project, "--page", "two", "--page", "ONE"});
  EXPECT_EQ(some.out, P("two.html") + "\n" + P("one.html") + "\n");
  EXPECT_EQ(Cli({"build", project, "--page", "three"}).status, 2);
}

TEST_F(CliTest, DryRunWritesNothing) {
  std::string project = Import(Site());
  CliRun r = Cli({"build", project, "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, P("one.html") + "\t9\n" + P("two.html") + "\t4\n");
  EXPECT_FALSE(FileExists(P("one.html")));
}

TEST_F(CliTest, BuildStopsAtAPageThatCannotBeWritten) {
  std::string json = Site();
  json.replace(json.find("one.html"), 8, "no/one.html");
  std::string project = Import(json);
  CliRun r = Cli({"build", project});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("brindle-cli: Cannot create file \"" + P("no/one.html") + "\". No such file or directory"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(FileExists(P("two.html")));
}

TEST_F(CliTest, BuildAndDryRunStopAtAPageOverTheProjectFile) {
  std::string json = Site();
  json.replace(json.find("two.html"), 8, "p.brp");
  std::string project = Import(json);
  const std::string saved = ReadFileBytes(project);
  for (bool dry : {false, true}) {
    std::vector<std::string> args = {"build", project};
    if (dry) args.push_back("--dry-run");
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 1) << dry;
    EXPECT_EQ(r.out, P("one.html") + (dry ? "\t9\n" : "\n")) << dry;
    EXPECT_NE(r.err.find("brindle-cli: Cannot create file \"" + project + "\". It is the project file"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFileBytes(project), saved) << dry;
  }
}

TEST_F(CliTest, ExpandPipelines) {
  std::string project = Import(Site());
  // Default: the page build's pipeline, for the page or for globals only.
  EXPECT_EQ(Cli({"expand", project, "--page", "one"}, "%t%\n%site%").out, "first\r\nS\r\n");
  EXPECT_EQ(Cli({"expand", project}, "%t%\n%site%").out, "%t%\r\nS\r\n");
  EXPECT_EQ(Cli({"expand", project, "--page-index", "1"}, "[%t%]").out, "[]\r\n");
  EXPECT_EQ(Cli({"expand", project, "--page-index", "7"}, "[%t%]").out, "[%t%]\r\n");
  // Single pass: one expansion, line ends untouched.
  EXPECT_EQ(Cli({"expand", project, "--single-pass", "--page-index", "0"}, "%t%\n%site%").out, "first\nS");
  EXPECT_EQ(Cli({"expand", project, "--page", "zzz"}, "x").status, 2);
  EXPECT_EQ(Cli({"expand", project, "--page-index", "x"}, "x").status, 2);
}

TEST_F(CliTest, ProjectsThatCannotBeOpened) {
  CliRun missing = Cli({"build", P("none.brp")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("none.brp"), std::string::npos);

  WriteFileBytes(P("new.brp"), std::string("\x05\0\0\0", 4));
  EXPECT_EQ(Cli({"export", P("new.brp")}).status, 2);

  // Cut short inside the second variable: the first is kept, exit status 1.
  std::string project = Import(R"({"nodes":[{"key":"Vars","structure":1,"vars":[{"name":"a","value":"1"},{"name":"b","value":"2"}]}]})");
  std::string bytes = ReadFileBytes(project);
  WriteFileBytes(project, bytes.substr(0, bytes.size() - 3));
  CliRun damaged = Cli({"expand", project, "--single-pass"}, "%a%%b%");
  EXPECT_EQ(damaged.status, 1);
  EXPECT_EQ(damaged.out, "1%b%");
  EXPECT_NE(damaged.err.find("brindle-cli: warning: File \"" + project + "\" is damaged at byte "), std::string::npos)
      << damaged.err;
  EXPECT_NE(damaged.err.find(". Going on with what could be read.\n"), std::string::npos) << damaged.err;
}

TEST_F(CliTest, FormatThreeFilesExportWithoutFtpFields) {
  auto le = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto str = [&](const std::string& s) { return le(static_cast<int32_t>(s.size())) + s; };
  std::string file = le(3) + str("Pages") + le(3) + le(1) + str("P") + str("T") + str("/f") + str("p.html") + le(0);
  WriteFileBytes(P("old.brp"), file);
  CliRun r = Cli({"export", P("old.brp")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"format\": 3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"ftpFolder\": \"\""), std::string::npos);
  EXPECT_NE(r.out.find("\"copyToFtp\": false"), std::string::npos);

  ASSERT_EQ(Cli({"resave", P("old.brp"), P("new.brp")}).status, 0);
  std::string saved = ReadFileBytes(P("new.brp"));
  EXPECT_EQ(saved.substr(0, 4), le(4));
  EXPECT_EQ(saved.size(), file.size() + 4 + 1);  // FTP folder and flag added
}

TEST_F(CliTest, FtpSettingsNeverPrintsThePassword) {
  WriteFileBytes(P("ftp.txt"), "ftp.example.org\r\nme\r\nsecret\r\n");
  CliRun r = Cli({"ftp-settings", P("ftp.txt")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Host: ftp.example.org\nUser ID: me\n");
  EXPECT_EQ(Cli({"ftp-settings", P("nope.txt")}).status, 2);
}

TEST_F(CliTest, RefusedUploadIsReportedWithTheReasonAndTheBuildGoesOn) {
  test::RefusingPort refusing;
  std::string project = Import(Site());
  WriteFileBytes(P("ftp.txt"), "127.0.0.1\r\nme\r\npw\r\n");
  CliRun r = Cli({"build", project, "--ftp-settings", P("ftp.txt"), "--port", std::to_string(refusing.Port()),
                  "--timeout", "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, P("one.html") + "\n" + P("two.html") + "\n");
  EXPECT_NE(r.err.find("Operation Failed: " + P("two.html") + ": Socket Error # 10061 Connection refused."),
            std::string::npos)
      << r.err;
}

TEST_F(CliTest, UsageErrors) {
  EXPECT_EQ(Cli({}).status, 2);
  EXPECT_EQ(Cli({"frobnicate"}).status, 2);
  EXPECT_EQ(Cli({"build"}).status, 2);
  EXPECT_EQ(Cli({"build", "x.brp", "--port", "80"}).status, 2);
  EXPECT_EQ(Cli({"build", "x.brp", "--bogus"}).status, 2);
  CliRun help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: brindle-cli"), std::string::npos);
}

// The installed binary, as a script would use it.
TEST_F(CliTest, BinaryWritesRawBytesAndErrorsToStderr) {
  const char* cli = std::getenv("BRINDLE_CLI");
  if (!cli) GTEST_SKIP() << "BRINDLE_CLI not set";
  std::string project = Import(Site());
  WriteFileBytes(P("in.txt"), std::string("\xff%site%\0x", 9));
  std::string cmd = std::string(cli) + " expand '" + project + "' --single-pass < '" + P("in.txt") + "' > '" +
                    P("out.txt") + "' 2> '" + P("err.txt") + "'";
  int st = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_EQ(ReadFileBytes(P("out.txt")), std::string("\xffS\0x", 4));

  cmd = std::string(cli) + " build '" + P("missing.brp") + "' > /dev/null 2> '" + P("err.txt") + "'";
  st = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(st), 2);
  EXPECT_EQ(ReadFileBytes(P("err.txt")).rfind("brindle-cli: ", 0), 0u);
}

}  // namespace
}  // namespace brindle
