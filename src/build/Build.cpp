#include "build/Build.h"

#include <sys/stat.h>

#include <exception>

#include "build/Expansion.h"
#include "build/PageWriter.h"
#include "project/FileIO.h"
#include "project/Project.h"
#include "project/Records.h"

namespace brindle {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool HasDrivePart(std::string_view name) {
  bool letter = name.size() >= 2 && name[1] == ':' &&
                ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  bool share = name.size() >= 2 && name[0] == '\\' && name[1] == '\\';
  return letter || share;
}


}  // namespace

std::string ComposeOutputPath(std::string_view fileName, std::string_view folder,
                              std::string_view projectFileName) {
  if (!HasDrivePart(fileName) && !folder.empty()) {
    std::string out(folder);
    if (!IsSep(out.back())) out += '/';
    if (!fileName.empty() && IsSep(fileName.front())) fileName.remove_prefix(1);
    out.append(fileName);
    return out;
  }
  if (HasDrivePart(fileName)) return std::string(fileName);
  return FolderPart(projectFileName) + std::string(fileName);
}

std::string NormalizeLines(std::string_view text) {
  if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  std::string out;
  if (text.empty()) return out;
  out.reserve(text.size() + text.size() / 16 + 2);
  const size_t n = text.size();
  auto find = [&](char c, size_t from) {
    size_t at = text.find(c, from);
    return at == std::string_view::npos ? n : at;
  };
  // Runs that already end their lines with CR LF are copied in one piece;
  // only a lone CR or LF breaks a run.
  size_t run = 0, i = 0;
  size_t nextCr = find('\r', 0), nextLf = find('\n', 0);
  while (i < n) {
    if (nextCr < i) nextCr = find('\r', i);
    if (nextLf < i) nextLf = find('\n', i);
    size_t j = nextCr < nextLf ? nextCr : nextLf;
    if (j == n) break;
    if (text[j] == '\r' && j + 1 < n && text[j + 1] == '\n') {
      i = j + 2;
      continue;
    }
    out.append(text.data() + run, j - run);
    out += "\r\n";
    run = i = j + 1;
  }
  out.append(text.data() + run, n - run);
  if (text.back() != '\n' && text.back() != '\r') out += "\r\n";
  return out;
}

EOutputIsProjectFile::EOutputIsProjectFile(const std::string& path)
    : std::runtime_error("Cannot create file \"" + path +
                         "\". It is the project file; a page must not be written over it.") {}

TSiteBuilder::TSiteBuilder(Project& project, TReader& reader, std::string projectFileName)
    : project_(project), reader_(reader), projectFileName_(std::move(projectFileName)) {}

TSiteBuilder::~TSiteBuilder() = default;

std::optional<int32_t> TSiteBuilder::FindPage(std::string_view name) {
  const TPages& pages = project_.GetPages();
  for (size_t i = 0; i < pages.size(); ++i)
    if (SameName(pages[i].Name, name)) return static_cast<int32_t>(i);
  return std::nullopt;
}

std::string TSiteBuilder::OutputPath(int32_t index) {
  const TPage& page = project_.GetPages().at(static_cast<size_t>(index));
  return ComposeOutputPath(page.FileName, page.LocalFolder, projectFileName_);
}

std::string TSiteBuilder::RenderPage(int32_t index) {
  const TPage& page = project_.GetPages().at(static_cast<size_t>(index));
  std::string text;
  for (const TTemplate& t : project_.GetTemps())
    if (SameName(t.Name, page.Template)) {
      text = NormalizeLines(t.Text);
      break;
    }
  // Globals first: a global variable wins over a page value of the same
  // name, and placeholders inside global values are left for the page pass.
  if (!expander_) expander_ = std::make_unique<TExpander>(project_, reader_);
  text = NormalizeLines(expander_->ExpandText(text, -1));
  return NormalizeLines(expander_->ExpandText(text, index));
}

void TSiteBuilder::RefuseProjectFile(const std::string& path) {
  if (projectFileName_.empty()) return;
  if (!projectIdKnown_) {
    struct stat project {};
    projectExists_ = ::stat(projectFileName_.c_str(), &project) == 0;
    projectDev_ = project.st_dev;
    projectIno_ = project.st_ino;
    projectIdKnown_ = true;
  }
  // The same file under any spelling (".", "..", links): compare the files.
  struct stat out;
  if (!projectExists_ || ::stat(path.c_str(), &out) != 0) return;
  if (out.st_dev == projectDev_ && out.st_ino == projectIno_) throw EOutputIsProjectFile(path);
}

std::string TSiteBuilder::BuildPageAt(int32_t index) {
  std::string path = OutputPath(index);
  RefuseProjectFile(path);
  WriteFileBytes(path, RenderPage(index));
  if (OnWritten) OnWritten(path);
  const TPage& page = project_.GetPages()[static_cast<size_t>(index)];
  if (page.CopyToFtp && OnUpload) {
    // A copy: the upload may let the user edit the project while it waits.
    TPage snapshot = page;
    // The project may change while the upload waits: index it afresh.
    expander_.reset();
    projectIdKnown_ = false;
    OnUpload(snapshot, path);
  }
  return path;
}

std::optional<std::string> TSiteBuilder::BuildPage(std::string_view name) {
  std::optional<int32_t> index = FindPage(name);
  if (!index) return std::nullopt;
  return BuildPageAt(*index);
}

void TSiteBuilder::BuildAll() {
  // By position, not by name: two pages whose names differ only in case are
  // both built.
  std::vector<int32_t> all(project_.GetPages().size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int32_t>(i);
  BuildPages(all);
}

void TSiteBuilder::BuildPages(const std::vector<int32_t>& indexes) {
  const TPages& pages = project_.GetPages();
  bool uploads = false;
  for (int32_t i : indexes) uploads = uploads || (OnUpload && pages.at(static_cast<size_t>(i)).CopyToFtp);
  if (uploads || indexes.size() < 2) {
    // An upload may let the user change the project while it waits, so
    // each page is built only after the one before it is done.
    for (int32_t i : indexes) BuildPageAt(i);
    return;
  }
  // Nothing leaves the builder between pages: build the next page while
  // the writer writes this one.
  PageWriter writer;
  auto written = [&](const std::string& path) {
    if (OnWritten) OnWritten(path);
  };
  // A page that cannot be built stops the build like one that cannot be
  // written, but only after the pages before it have been written.
  std::exception_ptr stopped;
  std::string path;
  for (int32_t i : indexes) {
    std::string out, bytes;
    try {
      out = OutputPath(i);
      RefuseProjectFile(out);
      bytes = RenderPage(i);
    } catch (...) {
      stopped = std::current_exception();
      break;
    }
    if (!writer.Push(std::move(out), std::move(bytes))) break;
    while (writer.TakeWritten(path)) written(path);
  }
  writer.Finish(written);  // an earlier page's write failure comes first
  if (stopped) std::rethrow_exception(stopped);
}

}  // namespace brindle
