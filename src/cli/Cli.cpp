#include "cli/Cli.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "build/Build.h"
#include "build/Expansion.h"
#include "build/Upload.h"
#include "cli/ProjectJson.h"
#include "ftp/FtpSettings.h"
#include "ftp/IdFTP.h"
#include "project/FileIO.h"
#include "project/Project.h"
#include "project/Records.h"
#include "scan/Reader.h"

namespace brindle {

const char* CliUsage() {
  return R"(Usage: brindle-cli COMMAND [ARGS]

Builds the pages of a Brindle project (.brp) and publishes them by FTP.

Commands:
  build PROJECT [--page NAME]... [--dry-run]
        [--ftp-settings FILE [--port N] [--passive] [--timeout SECONDS]]
      Build every page in stored order, or the named pages in the given
      order (names match ignoring case). Prints each file written. Stops at
      the first page that cannot be written. With --dry-run nothing is
      written: prints each path that would be written and its size in bytes.
      With --ftp-settings, pages marked "Copy File to FTP Server" are uploaded
      after they are written (host, user ID and password from FILE; control
      port 21 unless --port; active mode unless --passive; --timeout bounds
      the connect and every silent wait, default 120 s). A failed upload is
      reported and the build goes on.
  expand PROJECT [--page NAME | --page-index N] [--single-pass]
      Read a text from stdin and write it expanded to stdout: through the
      same two passes and line normalisation as a page build (for the given
      page, or global variables only). --single-pass expands once and keeps
      the line ends as they are.
  export PROJECT
      Write the project as JSON to stdout.
  import JSON PROJECT
      Write PROJECT from a JSON file made by export (the previous PROJECT is
      kept as "Backup of PROJECT"). JSON "-" reads stdin.
  resave PROJECT [OUT]
      Load PROJECT and save it in the current format, to OUT or in place.
  ftp-settings FILE
      Print the host and user ID of an FTP settings file.

Options:
  -h, --help    show this text

Exit status: 0 success; 1 the work failed part-way (a page not written or
not uploaded, a damaged project read in part); 2 usage error, or a project
that cannot be opened.
)";
}

namespace {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Arguments of one command: positionals and options, in order.
class Args {
 public:
  Args(const std::vector<std::string>& a, size_t from) : a_(a), i_(from) {}
  bool Done() const { return i_ >= a_.size(); }
  const std::string& Peek() const { return a_[i_]; }
  std::string Take() { return a_[i_++]; }
  std::string Value(const std::string& option) {
    if (Done()) throw UsageError("option " + option + " needs a value");
    return Take();
  }

 private:
  const std::vector<std::string>& a_;
  size_t i_;
};

int32_t ParseInt(const std::string& s, const std::string& what, int64_t lo, int64_t hi) {
  int64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi)
    throw UsageError(what + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not \"" + s + "\"");
  return static_cast<int32_t>(v);
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

// The engine's state for one project file.
struct Session {
  Project project;
  TReader reader;
  std::string path;  // absolute
  bool damaged = false;
  int32_t format = 4;  // the format value the file was read with
  Session() { ConfigureMainReader(reader); }
};

class Tool {
 public:
  Tool(std::istream& in, std::ostream& out, std::ostream& err) : in_(in), out_(out), err_(err) {}

  int Run(const std::vector<std::string>& args) {
    try {
      if (args.empty()) throw UsageError("no command given");
      const std::string& cmd = args[0];
      if (cmd == "-h" || cmd == "--help" || cmd == "help") {
        out_ << CliUsage();
        return kCliOk;
      }
      Args a(args, 1);
      if (cmd == "build") return Build(a);
      if (cmd == "expand") return Expand(a);
      if (cmd == "export") return Export(a);
      if (cmd == "import") return Import(a);
      if (cmd == "resave") return Resave(a);
      if (cmd == "ftp-settings") return FtpSettings(a);
      throw UsageError("unknown command \"" + cmd + "\"");
    } catch (const UsageError& e) {
      err_ << "brindle-cli: " << e.what() << "\nTry 'brindle-cli --help'.\n";
      return kCliUsage;
    } catch (const CannotOpen& e) {
      err_ << "brindle-cli: " << e.what() << "\n";
      return kCliUsage;
    } catch (const std::exception& e) {
      err_ << "brindle-cli: " << e.what() << "\n";
      return kCliPartial;
    }
  }

 private:
  class CannotOpen : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  static void NoMoreOptions(const std::string& arg) {
    if (!arg.empty() && arg[0] == '-' && arg != "-") throw UsageError("unknown option " + arg);
  }

  // The rest of the arguments, none of which may be an option.
  static std::vector<std::string> Positionals(Args& a) {
    std::vector<std::string> pos;
    while (!a.Done()) {
      pos.push_back(a.Take());
      NoMoreOptions(pos.back());
    }
    return pos;
  }

  // Opens PROJECT; a missing, unreadable or too new file ends the command.
  std::unique_ptr<Session> Open(const std::string& path) {
    auto s = std::make_unique<Session>();
    s->path = Absolute(path);
    LoadResult r = s->project.Open(s->path);
    s->format = r.Format;
    switch (r.Outcome) {
      case LoadOutcome::Loaded:
        break;
      case LoadOutcome::Missing:
        throw CannotOpen("cannot open project \"" + s->path + "\": " + SystemErrorText(ENOENT));
      case LoadOutcome::Unreadable:
      case LoadOutcome::FormatTooNew:
        throw CannotOpen(r.Message);
      case LoadOutcome::Damaged:
        err_ << "brindle-cli: warning: " << r.Message << " Going on with what could be read.\n";
        s->damaged = true;
        break;
    }
    return s;
  }

  int Finish(const Session& s, bool failed) { return (failed || s.damaged) ? kCliPartial : kCliOk; }

  int Build(Args& a) {
    std::string project, settingsFile;
    std::vector<std::string> pages;
    bool dryRun = false, passive = false;
    int32_t port = 21, timeout = 120;
    bool portSet = false, passiveSet = false, timeoutSet = false;
    while (!a.Done()) {
      std::string arg = a.Take();
      if (arg == "--page") pages.push_back(a.Value(arg));
      else if (arg == "--dry-run") dryRun = true;
      else if (arg == "--ftp-settings") settingsFile = a.Value(arg);
      else if (arg == "--port") { port = ParseInt(a.Value(arg), "--port", 1, 65535); portSet = true; }
      else if (arg == "--passive") { passive = true; passiveSet = true; }
      else if (arg == "--timeout") { timeout = ParseInt(a.Value(arg), "--timeout", 1, 2000000); timeoutSet = true; }
      else if (project.empty()) { NoMoreOptions(arg); project = arg; }
      else throw UsageError("unexpected argument \"" + arg + "\"");
    }
    if (project.empty()) throw UsageError("build needs a PROJECT");
    if (settingsFile.empty() && (portSet || passiveSet || timeoutSet))
      throw UsageError("--port, --passive and --timeout go with --ftp-settings");
    if (dryRun && !settingsFile.empty()) throw UsageError("--dry-run writes nothing, so it cannot upload");

    // Read the settings before building anything, so that a wrong path
    // fails at once.
    TFtpSettings settings;
    if (!settingsFile.empty()) ApplySettingsLines(settings, ReadSettingsFile(settingsFile));

    auto s = Open(project);
    TSiteBuilder builder(s->project, s->reader, s->path);

    std::vector<int32_t> order;
    if (pages.empty()) {
      for (size_t i = 0; i < s->project.GetPages().size(); ++i) order.push_back(static_cast<int32_t>(i));
    } else {
      for (const std::string& name : pages) {
        auto index = builder.FindPage(name);
        if (!index) throw UsageError("no page named \"" + name + "\" in " + s->path);
        order.push_back(*index);
      }
    }

    if (dryRun) {
      // Stops where the build would stop short of writing.
      for (int32_t i : order) {
        std::string path = builder.OutputPath(i);
        builder.RefuseProjectFile(path);
        out_ << path << '\t' << builder.RenderPage(i).size() << '\n' << std::flush;
      }
      return Finish(*s, false);
    }

    bool uploadFailed = false;
    size_t written = 0;
    builder.OnWritten = [&](const std::string& path) {
      ++written;
      out_ << path << '\n' << std::flush;
    };
    // Without settings no upload step is given, so the builder may write
    // ahead on its own thread; the flagged pages are only counted.
    auto noteNotUploaded = [&] {
      if (settingsFile.empty()) {
        int n = 0;
        for (size_t k = 0; k < written && k < order.size(); ++k)
          n += s->project.GetPages()[static_cast<size_t>(order[k])].CopyToFtp ? 1 : 0;
        NoteNotUploaded(n);
      }
    };
    std::unique_ptr<TIdFTP> ftp;
    if (!settingsFile.empty()) {
      ftp = std::make_unique<TIdFTP>();
      ftp->Port = port;
      ftp->Passive = passive;
      ftp->ReplyTimeout = timeout * 1000;
      ftp->ConnectTimeout = timeout * 1000;
      ftp->SetTransferType(ftASCII);  // pages go as text, like the desktop app's client
      builder.OnUpload = [&](const TPage& page, const std::string& path) {
        StatusPrinter status(err_, IsTerminal());
        UploadResult r = UploadPage(*ftp, page.FtpFolder, path, settings.Host, settings.UserId, settings.Password,
                                    [&](const std::string& text) { status.Show(text); });
        status.End();
        if (!r.Ok) {
          uploadFailed = true;
          err_ << "brindle-cli: Operation Failed: " << path;
          if (!r.Reason.empty()) err_ << ": " << OneLine(r.Reason);
          err_ << '\n';
        }
      };
    }
    try {
      builder.BuildPages(order);
    } catch (...) {
      noteNotUploaded();
      throw;
    }
    noteNotUploaded();
    return Finish(*s, uploadFailed);
  }

  void NoteNotUploaded(int n) {
    if (n > 0)
      err_ << "brindle-cli: note: " << n << (n == 1 ? " page is" : " pages are")
           << " marked \"Copy File to FTP Server\" but " << (n == 1 ? "was" : "were")
           << " not uploaded: no --ftp-settings given\n";
  }

  // Socket error texts carry a CR LF inside; one line reads better here.
  static std::string OneLine(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\r' || s[i] == '\n') {
        while (i + 1 < s.size() && (s[i + 1] == '\r' || s[i + 1] == '\n')) ++i;
        if (i + 1 < s.size()) out += ' ';
      } else {
        out += s[i];
      }
    }
    return out;
  }

  // All of standard input. The process's own stdin is mapped when it is a
  // regular file and read with read(2) otherwise: large texts are the point
  // of `expand`, and a copy through a stream buffer costs more than the
  // expansion.
  class Input {
   public:
    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() {
      if (map_) ::munmap(map_, mapSize_);
    }
    std::string_view View() const { return map_ ? std::string_view(static_cast<const char*>(map_), mapSize_) : text_; }
    void Read(std::istream& in) {
      if (&in != &std::cin) {
        text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return;
      }
      struct stat st;
      // Only a file read from its start is mapped; anything else is read.
      if (::fstat(0, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && ::lseek(0, 0, SEEK_CUR) == 0) {
        void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, 0, 0);
        if (p != MAP_FAILED) {
          map_ = p;
          mapSize_ = static_cast<size_t>(st.st_size);
          return;
        }
      }
      char buf[1 << 16];
      for (;;) {
        ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0) {
          if (errno == EINTR) continue;
          throw std::runtime_error("cannot read standard input: " + SystemErrorText(errno));
        }
        if (n == 0) break;
        text_.append(buf, static_cast<size_t>(n));
      }
    }

   private:
    std::string text_;
    void* map_ = nullptr;
    size_t mapSize_ = 0;
  };

  // Writes raw bytes to the output; the process's own stdout directly.
  void WriteOutput(std::string_view bytes) {
    if (&out_ != &std::cout) {
      out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out_.flush();
      return;
    }
    out_.flush();
    while (!bytes.empty()) {
      ssize_t n = ::write(1, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error("cannot write standard output: " + SystemErrorText(errno));
      }
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }

  bool IsTerminal() const { return &err_ == &std::cerr && ::isatty(2); }

  // Shows the upload's status texts as the status bar would: each text on a
  // line; the byte counter overwrites itself on a terminal and is printed
  // once, with its last value, elsewhere.
  class StatusPrinter {
   public:
    StatusPrinter(std::ostream& err, bool tty) : err_(err), tty_(tty) {}
    void Show(const std::string& text) {
      static const std::string kSent = " byte sent";
      bool progress = text.size() > kSent.size() && text.compare(text.size() - kSent.size(), kSent.size(), kSent) == 0;
      if (progress) {
        pending_ = text;
        if (tty_) err_ << '\r' << text << std::flush;
        return;
      }
      Flush();
      if (!text.empty()) err_ << OneLine(text) << '\n';
    }
    void End() { Flush(); }

   private:
    void Flush() {
      if (pending_.empty()) return;
      err_ << (tty_ ? "\r" : "") << pending_ << '\n';
      pending_.clear();
    }
    std::ostream& err_;
    bool tty_;
    std::string pending_;
  };

  int Expand(Args& a) {
    std::string project, pageName;
    bool single = false, byName = false, byIndex = false;
    int32_t index = -1;
    while (!a.Done()) {
      std::string arg = a.Take();
      if (arg == "--page") { pageName = a.Value(arg); byName = true; }
      else if (arg == "--page-index") { index = ParseInt(a.Value(arg), "--page-index", INT32_MIN, INT32_MAX); byIndex = true; }
      else if (arg == "--single-pass") single = true;
      else if (project.empty()) { NoMoreOptions(arg); project = arg; }
      else throw UsageError("unexpected argument \"" + arg + "\"");
    }
    if (project.empty()) throw UsageError("expand needs a PROJECT");
    if (byName && byIndex) throw UsageError("give --page or --page-index, not both");
    auto s = Open(project);
    if (byName) {
      TSiteBuilder finder(s->project, s->reader, s->path);
      auto found = finder.FindPage(pageName);
      if (!found) throw UsageError("no page named \"" + pageName + "\" in " + s->path);
      index = *found;
    }
    Input input;
    input.Read(in_);
    TExpander expander(s->project, s->reader);
    std::string text;
    if (single) {
      // Streamed: a large text never needs its whole result in memory.
      ChunkWriter writer([&](std::string_view piece) { WriteOutput(piece); });
      expander.ExpandText(input.View(), index, writer);
      writer.Flush();
    } else {
      text = NormalizeLines(input.View());
      text = NormalizeLines(expander.ExpandText(text, -1));
      text = NormalizeLines(expander.ExpandText(text, index));
    }
    WriteOutput(text);
    return Finish(*s, false);
  }

  int Export(Args& a) {
    if (a.Done()) throw UsageError("export needs a PROJECT");
    std::string project = a.Take();
    NoMoreOptions(project);
    if (!a.Done()) throw UsageError("unexpected argument \"" + a.Peek() + "\"");
    auto s = Open(project);
    out_ << ExportProjectJson(s->project, s->format);
    out_.flush();
    return Finish(*s, false);
  }

  int Import(Args& a) {
    std::vector<std::string> pos = Positionals(a);
    if (pos.size() != 2) throw UsageError("import needs JSON and PROJECT");
    std::string json;
    if (pos[0] == "-") {
      Input input;
      input.Read(in_);
      json = input.View();
    } else {
      try {
        json = ReadFileBytes(pos[0]);
      } catch (const EFOpenError& e) {
        throw CannotOpen(e.what());
      }
    }
    Project project;
    try {
      ImportProjectJson(json, project);
    } catch (const EJsonImportError& e) {
      throw CannotOpen(std::string(pos[0] == "-" ? "stdin" : pos[0]) + ": " + e.what() + "; nothing was written");
    }
    project.Save(Absolute(pos[1]));
    return kCliOk;
  }

  int Resave(Args& a) {
    std::vector<std::string> pos = Positionals(a);
    if (pos.empty() || pos.size() > 2) throw UsageError("resave needs PROJECT and at most one OUT");
    auto s = Open(pos[0]);
    std::string out = pos.size() == 2 ? Absolute(pos[1]) : s->path;
    // Saving a damaged file over itself would keep its unread part only in
    // the backup, which the next save replaces.
    if (s->damaged && ResolveLink(out) == ResolveLink(s->path))
      throw std::runtime_error("not saving over \"" + s->path +
                               "\": the part that could not be read would be lost; give OUT to save what was read "
                               "elsewhere");
    s->project.Save(out);
    return Finish(*s, false);
  }

  int FtpSettings(Args& a) {
    if (a.Done()) throw UsageError("ftp-settings needs a FILE");
    std::string file = a.Take();
    if (!a.Done()) throw UsageError("unexpected argument \"" + a.Peek() + "\"");
    TFtpSettings settings;
    try {
      ApplySettingsLines(settings, ReadSettingsFile(file));
    } catch (const EFOpenError& e) {
      throw CannotOpen(e.what());
    }
    out_ << "Host: " << settings.Host << "\nUser ID: " << settings.UserId << '\n';
    return kCliOk;
  }

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  return Tool(in, out, err).Run(args);
}

}  // namespace brindle
