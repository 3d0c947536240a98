// Building pages: the output path of a page, the line normalisation of its
// text, and Build / Build All, which write one file per page.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class Project;
class TReader;
class TExpander;
struct TPage;

// Joins a page's local folder and file name. A file name with a drive part
// ("C:…" or "\\server\share…") is used unchanged; an empty folder means the
// folder of `projectFileName` (empty for a project never saved). Both '/' and
// '\' count as separators at the joint; the separator added is '/'.
std::string ComposeOutputPath(std::string_view fileName, std::string_view folder,
                              std::string_view projectFileName);

// Ends every line with CR LF; lines end at CR, LF or CR LF, and the text ends
// at its first NUL byte. A text without a final line break gains one; the
// empty text stays empty.
std::string NormalizeLines(std::string_view text);

// Raised instead of writing a page over the open project file (its output
// path names the project file, however spelled): that write would destroy
// the project. The text reads as the file-creation error does:
// "Cannot create file "<path>". <reason>".
class EOutputIsProjectFile : public std::runtime_error {
 public:
  explicit EOutputIsProjectFile(const std::string& path);
};

// Builds the pages of one project. `project` and `reader` must outlive the
// builder. The builder indexes the project's variables once and keeps the
// index between calls: make a new builder after the project changed (the
// upload step is the exception: the builder forgets its index around it).
class TSiteBuilder {
 public:
  // Called after a page's file was written when the page has CopyToFtp set.
  // It reports its own failures; an exception from it stops the build.
  using UploadStep = std::function<void(const TPage& page, const std::string& outputPath)>;

  TSiteBuilder(Project& project, TReader& reader, std::string projectFileName);
  ~TSiteBuilder();
  TSiteBuilder(const TSiteBuilder&) = delete;
  TSiteBuilder& operator=(const TSiteBuilder&) = delete;

  UploadStep OnUpload;
  // Called right after a page's file was written, before any upload.
  std::function<void(const std::string& path)> OnWritten;

  // Index of the first page whose name equals `name` ignoring ASCII case.
  std::optional<int32_t> FindPage(std::string_view name);

  // Output path of the page at `index`.
  std::string OutputPath(int32_t index);

  // The text the page at `index` builds to: its template's text through
  // both expansion passes, CR LF lines.
  std::string RenderPage(int32_t index);

  // Builds the page named `name` (first match ignoring case): writes its file
  // and runs the upload step when the page asks for it. Returns the path
  // written, or nothing when no page has that name. Throws EFCreateError when
  // the file cannot be written, EOutputIsProjectFile when the path is the
  // project file (the page is then not uploaded).
  std::optional<std::string> BuildPage(std::string_view name);

  // Builds the page at `index`, as BuildPage does.
  std::string BuildPageAt(int32_t index);

  // Builds every page in stored order; the first page that cannot be
  // written stops the build (EFCreateError, EOutputIsProjectFile).
  void BuildAll();

  // Builds the pages at `indexes`, in that order, as BuildPageAt does. When
  // no page of them is to be uploaded, the next page is built while the one
  // before it is written; files are still written, and OnWritten still
  // reported, in order, and the first file that cannot be written stops the
  // build with nothing after it written; the pages before it are written
  // and reported whichever way the build stops.
  void BuildPages(const std::vector<int32_t>& indexes);

  // Throws EOutputIsProjectFile when `path` names the project file; a
  // dry run asks this of every page the build would write.
  void RefuseProjectFile(const std::string& path);

 private:
  Project& project_;
  TReader& reader_;
  std::string projectFileName_;
  // Shared by the pages of one build, so that the variables are indexed
  // once; dropped whenever control leaves the builder (an upload step).
  std::unique_ptr<TExpander> expander_;
  // Device and inode of the project file, looked up once per stretch of
  // building like the index above (a save replaces the file).
  bool projectIdKnown_ = false;
  bool projectExists_ = false;
  uint64_t projectDev_ = 0, projectIno_ = 0;
};

}  // namespace brindle
