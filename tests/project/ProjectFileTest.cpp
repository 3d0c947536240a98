#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "project/FileIO.h"
#include "project/Project.h"
#include "TempDir.h"

namespace brindle {
namespace {

using brindle::test::TempDir;

// Writes file images by hand, independently of the code under test.
struct Bytes {
  std::string b;
  Bytes& I(int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& S(std::string_view s) {
    I(static_cast<int32_t>(s.size()));
    b.append(s);
    return *this;
  }
  Bytes& U(uint8_t v) {
    b.push_back(static_cast<char>(v));
    return *this;
  }
};

// Loads from a heap block of exactly the given size, so that the sanitizer
// build catches any read past its end.
LoadResult LoadExact(Project& project, std::string_view bytes) {
  std::unique_ptr<char[]> block(new char[bytes.size() ? bytes.size() : 1]);
  std::memcpy(block.get(), bytes.data(), bytes.size());
  return project.OpenBytes(std::string_view(block.get(), bytes.size()), "test.brp");
}

// The records of every node as comparable texts, keyed by node key.
std::map<std::string, std::vector<std::string>> Records(Project& project) {
  std::map<std::string, std::vector<std::string>> out;
  TDList& list = project.List();
  if (!list.First()) return out;
  do {
    std::string key;
    int32_t s = 0;
    void* p = nullptr;
    list.CurrentKey(key);
    list.CurrentStructure(s);
    list.CurrentProperties(p);
    auto& recs = out[key];
    auto var = [](const TVar& v) { return v.Name + "=" + v.Value; };
    if (s == kStructVars) {
      for (auto& v : static_cast<TVarsHolder*>(p)->Items) recs.push_back(var(v));
    } else if (s == kStructTemplates) {
      for (auto& t : static_cast<TTemplatesHolder*>(p)->Items) {
        std::string r = t.Name + "|" + t.Text;
        for (auto& l : t.LocalVars) r += "|" + l;
        recs.push_back(r + "|" + std::to_string(t.LocalVars.size()));
      }
    } else if (s == kStructPages) {
      for (auto& pg : static_cast<TPagesHolder*>(p)->Items) {
        std::string r = pg.Name + "|" + pg.Template + "|" + pg.LocalFolder + "|" + pg.FileName +
                        "|" + pg.FtpFolder + "|" + (pg.CopyToFtp ? "1" : "0");
        for (auto& v : pg.Values) r += "|" + var(v);
        recs.push_back(r);
      }
    } else if (s == kStructString) {
      const std::string& t = static_cast<TStringHolder*>(p)->Text;
      if (!t.empty()) recs.push_back(t);
    } else {
      recs.push_back("structure " + std::to_string(s));
    }
  } while (list.Next());
  return out;
}

TEST(ProjectFile, WorkedExampleIsByteExact) {
  const std::string expected(
      "\x04\x00\x00\x00\x04\x00\x00\x00Vars\x01\x00\x00\x00\x01\x00\x00\x00"
      "\x05\x00\x00\x00Title\x04\x00\x00\x00Home",
      37);
  Project project;
  project.GetVars().push_back({"Title", "Home"});
  EXPECT_EQ(project.SaveToBytes(), expected);

  TempDir dir;
  project.Save(dir / "site.brp");
  EXPECT_EQ(ReadFileBytes(dir / "site.brp"), expected);

  Project loaded;
  LoadResult r = loaded.Open(dir / "site.brp");
  EXPECT_EQ(r.Outcome, LoadOutcome::Loaded);
  EXPECT_EQ(r.Format, 4);
  EXPECT_TRUE(r.Message.empty());
  ASSERT_EQ(loaded.GetVars().size(), 1u);
  EXPECT_EQ(loaded.GetVars()[0].Name, "Title");
  EXPECT_EQ(loaded.GetVars()[0].Value, "Home");
}

TEST(ProjectFile, NewAndEmptyProjects) {
  Project project;
  EXPECT_EQ(project.SaveToBytes(), Bytes().I(4).b);
  project.GetPages();  // what the app's first refresh does
  std::string bytes = project.SaveToBytes();
  EXPECT_EQ(bytes, Bytes().I(4).S("Pages").I(3).I(0).b);
  EXPECT_EQ(bytes.size(), 21u);
}

// Every node kind, every field; matches a hand-written image exactly.
Project& FillFull(Project& p) {
  p.GetText("Footer") = "</body>";
  p.GetText("Head") = "<html>";
  p.GetPages().push_back({"Home", "Main", "/srv/site", "index.html", "/www", true,
                          {{"Title", "Welcome"}, {"Lang", "en"}}});
  p.GetPages().push_back({"Blank", "Plain", "", "", "", false, {}});
  p.GetTemps().push_back({"Main", "<h1>%Title%</h1>\r\n", {"Title", "Lang"}});
  p.GetTemps().push_back({"Plain", "%Site%", {}});
  p.GetVars().push_back({"Site", "Brindle"});
  p.GetVars().push_back({"Empty", ""});
  p.GetVars().push_back({"Nested", "%Site% site"});
  return p;
}

// The hand-written image of FillFull, with the offset at which each record
// and each node header ends.
struct Image {
  Bytes bytes;
  std::vector<std::pair<std::string, size_t>> recordEnds, headerEnds;
  std::vector<size_t> nodeStarts;
  void Node(const char* key, int32_t s) {
    nodeStarts.push_back(bytes.b.size());
    bytes.S(key).I(s);
    headerEnds.push_back({key, bytes.b.size()});
  }
  void End(const char* key) { recordEnds.push_back({key, bytes.b.size()}); }
};

Image FullImage() {
  Image m;
  m.bytes.I(4);
  m.Node("Footer", 4);
  m.bytes.S("</body>");
  m.End("Footer");
  m.Node("Head", 4);
  m.bytes.S("<html>");
  m.End("Head");
  m.Node("Pages", 3);
  m.bytes.I(2).S("Home").S("Main").S("/srv/site").S("index.html").S("/www").U(1);
  m.bytes.I(2).S("Title").S("Welcome").S("Lang").S("en");
  m.End("Pages");
  m.bytes.S("Blank").S("Plain").S("").S("").S("").U(0).I(0);
  m.End("Pages");
  m.Node("Temps", 2);
  m.bytes.I(2).S("Main").S("<h1>%Title%</h1>\r\n").I(2).S("Title").S("Lang");
  m.End("Temps");
  m.bytes.S("Plain").S("%Site%").I(0);
  m.End("Temps");
  m.Node("Vars", 1);
  m.bytes.I(3).S("Site").S("Brindle");
  m.End("Vars");
  m.bytes.S("Empty").S("");
  m.End("Vars");
  m.bytes.S("Nested").S("%Site% site");
  m.End("Vars");
  m.nodeStarts.push_back(m.bytes.b.size());
  return m;
}

TEST(ProjectFile, FullProjectLayoutAndRoundTrip) {
  Project project;
  FillFull(project);
  std::string bytes = project.SaveToBytes();
  EXPECT_EQ(bytes, FullImage().bytes.b);

  Project loaded;
  EXPECT_EQ(LoadExact(loaded, bytes).Outcome, LoadOutcome::Loaded);
  EXPECT_EQ(Records(loaded), Records(project));
  EXPECT_EQ(loaded.SaveToBytes(), bytes);
}

// A file cut at any byte loads every record that lies wholly before the
// cut, reports damage unless the cut falls between nodes, and never reads
// beyond the end.
TEST(ProjectFile, TruncationAtEveryByteKeepsTheCompleteRecords) {
  Image full = FullImage();
  const std::string& bytes = full.bytes.b;
  Project original;
  auto all = Records(FillFull(original));
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Project loaded;
    LoadResult r = LoadExact(loaded, std::string_view(bytes).substr(0, cut));
    bool clean = cut == 0 || std::count(full.nodeStarts.begin(), full.nodeStarts.end(), cut) > 0;
    EXPECT_EQ(r.Outcome, clean ? LoadOutcome::Loaded : LoadOutcome::Damaged) << r.Message;
    if (!clean) {
      EXPECT_NE(r.Message.find("\"test.brp\""), std::string::npos) << r.Message;
      EXPECT_NE(r.Message.find("byte "), std::string::npos) << r.Message;
    }
    std::map<std::string, std::vector<std::string>> expected;
    for (auto& [key, end] : full.headerEnds) {
      if (end <= cut) expected[key];
    }
    std::map<std::string, size_t> kept;
    for (auto& [key, end] : full.recordEnds) {
      if (end <= cut) ++kept[key];
    }
    for (auto& [key, n] : kept) {
      expected[key].assign(all[key].begin(), all[key].begin() + static_cast<long>(n));
    }
    EXPECT_EQ(Records(loaded), expected);
  }
}

TEST(ProjectFile, Format3PagesLoadWithoutTheFtpFields) {
  std::string v3 = Bytes()
                       .I(3)
                       .S("Pages").I(3).I(1)
                       .S("Home").S("Main").S("out").S("index.html")
                       .I(1).S("Title").S("Hi")
                       .S("Vars").I(1).I(0)
                       .b;
  Project project;
  LoadResult r = LoadExact(project, v3);
  EXPECT_EQ(r.Outcome, LoadOutcome::Loaded) << r.Message;
  EXPECT_EQ(r.Format, 3);
  ASSERT_EQ(project.GetPages().size(), 1u);
  const TPage& page = project.GetPages()[0];
  EXPECT_EQ(page.FileName, "index.html");
  EXPECT_EQ(page.FtpFolder, "");
  EXPECT_FALSE(page.CopyToFtp);
  ASSERT_EQ(page.Values.size(), 1u);
  EXPECT_EQ(page.Values[0].Value, "Hi");
  EXPECT_TRUE(project.GetVars().empty());

  std::string v4 = Bytes()
                       .I(4)
                       .S("Pages").I(3).I(1)
                       .S("Home").S("Main").S("out").S("index.html").S("").U(0)
                       .I(1).S("Title").S("Hi")
                       .S("Vars").I(1).I(0)
                       .b;
  EXPECT_EQ(project.SaveToBytes(), v4);
}

TEST(ProjectFile, StringsAreCutAtTheirFirstNul) {
  Project project;
  project.GetVars().push_back({std::string("Na\0me", 5), std::string("\0", 1)});
  project.GetTemps().push_back({"T", "x", {std::string("a\0b", 3), "c"}});
  std::string bytes = project.SaveToBytes();
  EXPECT_NE(bytes.find(std::string("\x05\x00\x00\x00Na\0me", 9)), std::string::npos);  // whole

  Project loaded;
  EXPECT_EQ(LoadExact(loaded, bytes).Outcome, LoadOutcome::Loaded);
  EXPECT_EQ(loaded.GetVars()[0].Name, "Na");
  EXPECT_EQ(loaded.GetVars()[0].Value, "");
  EXPECT_EQ(loaded.GetTemps()[0].LocalVars, (std::vector<std::string>{"a", "c"}));
}

TEST(ProjectFile, UnknownStructuresAreKeptAsBareKeys) {
  std::string bytes = Bytes().I(4).S("Extra").I(9).S("Vars").I(1).I(1).S("a").S("b").b;
  Project project;
  EXPECT_EQ(LoadExact(project, bytes).Outcome, LoadOutcome::Loaded);
  int32_t s = 0;
  void* p = reinterpret_cast<void*>(1);
  ASSERT_TRUE(project.List().Find("Extra", s, p));
  EXPECT_EQ(s, 9);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(project.GetVars().size(), 1u);
  EXPECT_EQ(project.SaveToBytes(), bytes);
}

TEST(ProjectFile, FormatValuesAboveFourLoadNothing) {
  Project project;
  project.GetVars().push_back({"old", "state"});
  LoadResult r = LoadExact(project, Bytes().I(5).S("Vars").I(1).I(0).b);
  EXPECT_EQ(r.Outcome, LoadOutcome::FormatTooNew);
  EXPECT_EQ(r.Format, 5);
  EXPECT_NE(r.Message.find("test.brp"), std::string::npos);
  EXPECT_TRUE(project.List().Empty());

  // Every value up to 4 is accepted, negative ones too.
  r = LoadExact(project, Bytes().I(-7).S("Vars").I(1).I(0).b);
  EXPECT_EQ(r.Outcome, LoadOutcome::Loaded);
  EXPECT_EQ(r.Format, -7);
  EXPECT_NE(project.FindVars(), nullptr);
}

TEST(ProjectFile, EmptyShortAndMissingFiles) {
  TempDir dir;
  Project project;
  project.GetVars();
  LoadResult r = project.Open(dir / "nothing.brp");
  EXPECT_EQ(r.Outcome, LoadOutcome::Missing);
  EXPECT_TRUE(r.Message.empty());
  EXPECT_TRUE(project.List().Empty());

  WriteFileBytes(dir / "empty.brp", "");
  EXPECT_EQ(project.Open(dir / "empty.brp").Outcome, LoadOutcome::Loaded);
  for (size_t n = 1; n <= 3; ++n) {
    r = LoadExact(project, std::string(n, '\x04'));
    EXPECT_EQ(r.Outcome, LoadOutcome::Damaged);
    EXPECT_NE(r.Message.find("format value"), std::string::npos) << r.Message;
  }
  EXPECT_EQ(LoadExact(project, Bytes().I(4).b).Outcome, LoadOutcome::Loaded);
  EXPECT_TRUE(project.List().Empty());

  r = project.Open(dir.Path());  // a folder cannot be read as a file
  EXPECT_EQ(r.Outcome, LoadOutcome::Unreadable);
  EXPECT_NE(r.Message.find(dir.Path()), std::string::npos);
}

TEST(ProjectFile, LoadingAddsToTheListAndReplacesPresentKeys) {
  TempDir dir;
  Project source;
  source.GetVars().push_back({"from", "file"});
  source.Save(dir / "p.brp");

  Project project;
  project.GetVars().push_back({"in", "memory"});
  project.GetText("Head") = "kept";
  LoadResult r = project.List().LoadFromFile(dir / "p.brp", Project::kFormat);
  EXPECT_EQ(r.Outcome, LoadOutcome::Loaded);
  ASSERT_EQ(project.GetVars().size(), 1u);
  EXPECT_EQ(project.GetVars()[0].Name, "from");
  EXPECT_EQ(*project.FindText("Head"), "kept");
}

// One kind of damage per case: what comes before it is kept, including the
// complete records of the node being read, and the offset is reported.
TEST(ProjectFile, ImpossibleLengthsAndCountsAreReportedNotTrusted) {
  struct Case {
    const char* name;
    std::string bytes;
    size_t offset;
    std::map<std::string, std::vector<std::string>> kept;
  };
  const Bytes head = Bytes().I(4).S("Head").I(4).S("h");  // 21 bytes
  std::vector<Case> cases = {
      {"negative string length", Bytes(head).S("Vars").I(1).I(2).S("a").S("1").S("b").I(-1).b,
       52, {{"Head", {"h"}}, {"Vars", {"a=1"}}}},
      {"string longer than the file", Bytes(head).S("Vars").I(1).I(1).S("a").I(1000).S("x").b,
       42, {{"Head", {"h"}}, {"Vars", {}}}},
      {"negative count", Bytes(head).S("Temps").I(2).I(-3).b, 34, {{"Head", {"h"}}, {"Temps", {}}}},
      {"huge count", Bytes(head).S("Pages").I(3).I(0x7fffffff).S("p").b, 43,
       {{"Head", {"h"}}, {"Pages", {}}}},
      {"huge line count",
       Bytes(head).S("Temps").I(2).I(2).S("t").S("x").I(0).S("u").S("y").I(0x40000000).b, 66,
       {{"Head", {"h"}}, {"Temps", {"t|x|0"}}}},
      {"negative key length", Bytes(head).I(-4).S("junk").b, 21, {{"Head", {"h"}}}},
      {"key longer than the file", Bytes(head).I(99).b.append("Vars"), 21, {{"Head", {"h"}}}},
      {"file ends inside a structure id", Bytes(head).S("Vars").b.append("\x01", 1), 29,
       {{"Head", {"h"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Project project;
    LoadResult r = LoadExact(project, c.bytes);
    EXPECT_EQ(r.Outcome, LoadOutcome::Damaged);
    EXPECT_NE(r.Message.find("byte " + std::to_string(c.offset) + ":"), std::string::npos)
        << r.Message;
    EXPECT_EQ(Records(project), c.kept);
  }
}

TEST(ProjectFile, KeysBeyondAnyProjectAreRefused) {
  std::string big(TDList::kMaxLoadedKeyBytes + 1, 'k');
  Project project;
  LoadResult r = LoadExact(project, Bytes().I(4).S("Vars").I(1).I(0).S(big).I(7).b);
  EXPECT_EQ(r.Outcome, LoadOutcome::Damaged);
  EXPECT_NE(project.FindVars(), nullptr);
  int32_t s;
  void* p;
  EXPECT_FALSE(project.List().Find(big, s, p));
}

TEST(ProjectFile, EachSaveKeepsThePreviousFileAsBackup) {
  TempDir dir;
  const std::string path = dir / "shop.brp";
  const std::string backup = dir / "Backup of shop.brp";
  Project project;
  project.GetVars().push_back({"v", "1"});
  project.Save(path);
  EXPECT_FALSE(FileExists(backup));  // nothing to back up the first time
  std::string first = ReadFileBytes(path);

  project.GetVars()[0].Value = "2";
  project.Save(path);
  std::string second = ReadFileBytes(path);
  EXPECT_NE(first, second);
  EXPECT_EQ(ReadFileBytes(backup), first);

  project.GetVars()[0].Value = "3";
  project.Save(path);
  EXPECT_EQ(ReadFileBytes(backup), second);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Backup of shop.brp", "shop.brp"}));
}

TEST(ProjectFile, PathWithoutFolderIsBackedUpInTheCurrentFolder) {
  TempDir dir;
  std::string old = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
  Project project;
  project.GetPages();
  try {
    project.Save("shop.brp");
    project.Save("shop.brp");
  } catch (...) {
    ASSERT_EQ(::chdir(old.c_str()), 0);
    throw;
  }
  ASSERT_EQ(::chdir(old.c_str()), 0);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Backup of shop.brp", "shop.brp"}));
}

// A project opened through a symbolic link (say, into a synced folder)
// stays linked: the file it points to gets the new bytes and the backup
// beside it, instead of the link being replaced by a file of its own.
TEST(ProjectFile, SavingThroughASymbolicLinkKeepsTheLink) {
  TempDir dir;
  std::filesystem::create_directories(dir / "synced");
  const std::string real = dir / "synced/site.brp";
  const std::string link = dir / "site.brp";
  Project project;
  project.GetVars().push_back({"v", "1"});
  project.Save(real);
  const std::string first = ReadFileBytes(real);
  std::filesystem::create_symlink(real, link);

  project.GetVars()[0].Value = "2";
  project.Save(link);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(real), project.SaveToBytes());
  EXPECT_EQ(ReadFileBytes(dir / "synced/Backup of site.brp"), first);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"site.brp", "synced"}));
}

// Root in CI ignores permissions, so the failures come from the shape of
// the file system instead.
TEST(ProjectFile, FailedSaveReportsAndLeavesEverythingAsItWas) {
  TempDir dir;
  Project project;
  project.GetVars().push_back({"a", "b"});

  EXPECT_THROW(project.Save(dir / "no/such/folder/p.brp"), EFCreateError);

  WriteFileBytes(dir / "plain", "x");
  try {
    project.Save(dir / "plain/p.brp");
    ADD_FAILURE() << "a folder that is a file cannot hold a project";
  } catch (const EFCreateError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "plain/p.brp"), std::string::npos) << e.what();
  }

  // The old backup cannot be replaced: the project file must stay intact.
  const std::string path = dir / "site.brp";
  WriteFileBytes(path, "previous");
  std::filesystem::create_directories(dir / "Backup of site.brp/inside");
  EXPECT_THROW(project.Save(path), EFCreateError);
  EXPECT_EQ(ReadFileBytes(path), "previous");

  // The target itself is a folder.
  std::filesystem::create_directories(dir / "folder.brp");
  EXPECT_THROW(project.Save(dir / "folder.brp"), EFCreateError);

  EXPECT_EQ(dir.Entries(),
            (std::vector<std::string>{"Backup of site.brp", "folder.brp", "plain", "site.brp"}));
}

// Random projects: save, load and save again give the same bytes and the
// same records.
TEST(ProjectFile, RandomProjectsRoundTripExactly) {
  std::mt19937 rng(7);
  auto text = [&](size_t maxLen) {
    std::string s(rng() % (maxLen + 1), ' ');
    for (char& c : s) c = static_cast<char>(1 + rng() % 255);  // NUL would be cut
    return s;
  };
  auto vars = [&](size_t n) {
    TVars v(rng() % (n + 1));
    for (TVar& x : v) x = {text(8), text(40)};
    return v;
  };
  for (int round = 0; round < 200; ++round) {
    Project project;
    if (rng() % 4) project.GetVars() = vars(6);
    if (rng() % 4) {
      project.GetTemps().resize(rng() % 4);
      for (TTemplate& t : project.GetTemps()) {
        t = {text(8), text(200), {}};
        t.LocalVars.resize(rng() % 4);
        for (auto& l : t.LocalVars) l = text(8);
      }
    }
    if (rng() % 4) {
      project.GetPages().resize(rng() % 4);
      for (TPage& p : project.GetPages()) {
        p = {text(8), text(8), text(20), text(12), text(12), rng() % 2 == 0, vars(3)};
      }
    }
    if (rng() % 2) project.GetText("Head") = text(30);
    if (rng() % 2) project.GetText("Footer") = text(30);
    if (rng() % 3 == 0) project.List().Add(text(5), static_cast<int32_t>(rng()) | 8, nullptr);

    std::string first = project.SaveToBytes();
    EXPECT_EQ(project.EncodedSize(), first.size());
    Project loaded;
    LoadResult r = LoadExact(loaded, first);
    ASSERT_EQ(r.Outcome, LoadOutcome::Loaded) << r.Message;
    EXPECT_EQ(Records(loaded), Records(project));
    ASSERT_EQ(loaded.SaveToBytes(), first) << "round " << round;
  }
}

}  // namespace
}  // namespace brindle
