#include "project/Project.h"

#include <climits>
#include <memory>
#include <stdexcept>

namespace brindle {

namespace {

constexpr std::string_view kVarsKey = "Vars";
constexpr std::string_view kTempsKey = "Temps";
constexpr std::string_view kPagesKey = "Pages";

// The page fields FtpFolder and CopyToFtp exist from this format value on.
constexpr int32_t kFormatWithFtpFields = 4;

int32_t CountOf(size_t n) {
  if (n > static_cast<size_t>(INT32_MAX)) {
    throw std::length_error("A list is too long for the project file");
  }
  return static_cast<int32_t>(n);
}

void WriteVars(ByteSink& h, const TVars& vars) {
  h.WriteInt32(CountOf(vars.size()));
  for (const TVar& v : vars) {
    WriteString(h, v.Name);
    WriteString(h, v.Value);
  }
}

// Appends each variable once it has been read whole, so that damage keeps
// every complete one.
void ReadVars(ByteSource& h, TVars& out, const char* countName) {
  size_t count = h.ReadCount(countName);
  out.reserve(out.size() + h.Reservable(count, 8));
  for (size_t i = 0; i < count; ++i) {
    TVar v;
    ReadString(h, v.Name);
    ReadString(h, v.Value);
    out.push_back(std::move(v));
  }
}

void ReadTemplates(ByteSource& h, TTemplates& out) {
  size_t count = h.ReadCount("a template count");
  out.reserve(out.size() + h.Reservable(count, 12));
  for (size_t i = 0; i < count; ++i) {
    TTemplate t;
    ReadString(h, t.Name);
    ReadString(h, t.Text);
    ReadStrings(h, t.LocalVars);
    out.push_back(std::move(t));
  }
}

void ReadPages(ByteSource& h, TPages& out, int32_t format) {
  bool ftpFields = format >= kFormatWithFtpFields;
  size_t count = h.ReadCount("a page count");
  out.reserve(out.size() + h.Reservable(count, ftpFields ? 25 : 20));
  for (size_t i = 0; i < count; ++i) {
    TPage p;
    ReadString(h, p.Name);
    ReadString(h, p.Template);
    ReadString(h, p.LocalFolder);
    ReadString(h, p.FileName);
    if (ftpFields) {
      ReadString(h, p.FtpFolder);
      p.CopyToFtp = h.ReadByte("a page's upload flag") != 0;
    }
    ReadVars(h, p.Values, "a value count");
    out.push_back(std::move(p));
  }
}

}  // namespace

Project::Project() {
  DList1.Separator = '_';
  DList1.OnDisposeStructure = &Project::DList1DisposeStructure;
  DList1.OnSaveStructure = &Project::DList1SaveStructure;
  DList1.OnLoadStructure = &Project::DList1LoadStructure;
}

Project::~Project() = default;

void Project::DList1DisposeStructure(TDList&, int32_t structure, void* properties) {
  switch (structure) {
    case kStructVars: delete static_cast<TVarsHolder*>(properties); break;
    case kStructTemplates: delete static_cast<TTemplatesHolder*>(properties); break;
    case kStructPages: delete static_cast<TPagesHolder*>(properties); break;
    case kStructString: delete static_cast<TStringHolder*>(properties); break;
    default: break;  // foreign nodes carry no properties
  }
}

// Writes the page fields of format 4 whatever format is asked for: this
// program only writes format 4. A node without a holder is written as an
// empty structure so that the file stays readable.
void Project::DList1SaveStructure(TDList&, int32_t structure, void* properties, ByteSink& h,
                                  int32_t) {
  switch (structure) {
    case kStructVars: {
      static const TVars none;
      WriteVars(h, properties ? static_cast<TVarsHolder*>(properties)->Items : none);
      break;
    }
    case kStructTemplates: {
      static const TTemplates none;
      const TTemplates& temps =
          properties ? static_cast<TTemplatesHolder*>(properties)->Items : none;
      h.WriteInt32(CountOf(temps.size()));
      for (const TTemplate& t : temps) {
        WriteString(h, t.Name);
        WriteString(h, t.Text);
        WriteStrings(h, t.LocalVars);
      }
      break;
    }
    case kStructPages: {
      static const TPages none;
      const TPages& pages = properties ? static_cast<TPagesHolder*>(properties)->Items : none;
      h.WriteInt32(CountOf(pages.size()));
      for (const TPage& p : pages) {
        WriteString(h, p.Name);
        WriteString(h, p.Template);
        WriteString(h, p.LocalFolder);
        WriteString(h, p.FileName);
        WriteString(h, p.FtpFolder);
        h.WriteByte(p.CopyToFtp ? 1 : 0);
        WriteVars(h, p.Values);
      }
      break;
    }
    case kStructString:
      WriteString(h, properties ? static_cast<TStringHolder*>(properties)->Text : std::string());
      break;
    default:
      break;  // key and structure id alone
  }
}

// The new holder goes into `properties` before anything is read, so a node
// whose data is damaged is still added with the records read whole.
void Project::DList1LoadStructure(TDList&, int32_t structure, void*& properties, ByteSource& h,
                                  int32_t format) {
  switch (structure) {
    case kStructVars: {
      auto* holder = new TVarsHolder;
      properties = holder;
      ReadVars(h, holder->Items, "a variable count");
      break;
    }
    case kStructTemplates: {
      auto* holder = new TTemplatesHolder;
      properties = holder;
      ReadTemplates(h, holder->Items);
      break;
    }
    case kStructPages: {
      auto* holder = new TPagesHolder;
      properties = holder;
      ReadPages(h, holder->Items, format);
      break;
    }
    case kStructString: {
      auto* holder = new TStringHolder;
      properties = holder;
      ReadString(h, holder->Text);
      break;
    }
    default:
      break;
  }
}

template <class Holder>
Holder& Project::FindOrCreate(std::string_view key, int32_t structure) {
  int32_t s = 0;
  void* p = nullptr;
  if (DList1.Find(key, s, p) && s == structure && p) return *static_cast<Holder*>(p);
  auto holder = std::make_unique<Holder>();
  Holder& ref = *holder;
  DList1.Add(key, structure, holder.release());
  return ref;
}

template <class Holder>
const Holder* Project::FindHolder(std::string_view key, int32_t structure) const {
  int32_t s = 0;
  void* p = nullptr;
  if (DList1.Find(key, s, p) && s == structure) return static_cast<const Holder*>(p);
  return nullptr;
}

TVars& Project::GetVars() { return FindOrCreate<TVarsHolder>(kVarsKey, kStructVars).Items; }
TTemplates& Project::GetTemps() {
  return FindOrCreate<TTemplatesHolder>(kTempsKey, kStructTemplates).Items;
}
TPages& Project::GetPages() { return FindOrCreate<TPagesHolder>(kPagesKey, kStructPages).Items; }
std::string& Project::GetText(std::string_view key) {
  return FindOrCreate<TStringHolder>(key, kStructString).Text;
}

const TVars* Project::FindVars() const {
  auto* h = FindHolder<TVarsHolder>(kVarsKey, kStructVars);
  return h ? &h->Items : nullptr;
}
const TTemplates* Project::FindTemps() const {
  auto* h = FindHolder<TTemplatesHolder>(kTempsKey, kStructTemplates);
  return h ? &h->Items : nullptr;
}
const TPages* Project::FindPages() const {
  auto* h = FindHolder<TPagesHolder>(kPagesKey, kStructPages);
  return h ? &h->Items : nullptr;
}
const std::string* Project::FindText(std::string_view key) const {
  auto* h = FindHolder<TStringHolder>(key, kStructString);
  return h ? &h->Text : nullptr;
}

LoadResult Project::Open(const std::string& path) {
  DList1.Clear();
  return DList1.LoadFromFile(path, kFormat);
}

LoadResult Project::OpenBytes(std::string_view bytes, const std::string& name) {
  DList1.Clear();
  return DList1.LoadFromBytes(bytes, kFormat, name);
}

namespace {

size_t StringSize(const std::string& s) { return 4 + s.size(); }

size_t VarsSize(const TVars& vars) {
  size_t n = 4;
  for (const TVar& v : vars) n += StringSize(v.Name) + StringSize(v.Value);
  return n;
}

size_t StructureSize(int32_t structure, void* properties) {
  if (!properties) return structure >= kStructVars && structure <= kStructString ? 4 : 0;
  size_t n = 0;
  switch (structure) {
    case kStructVars:
      return VarsSize(static_cast<TVarsHolder*>(properties)->Items);
    case kStructTemplates:
      n = 4;
      for (const TTemplate& t : static_cast<TTemplatesHolder*>(properties)->Items) {
        n += StringSize(t.Name) + StringSize(t.Text) + 4;
        for (const std::string& l : t.LocalVars) n += StringSize(l);
      }
      return n;
    case kStructPages:
      n = 4;
      for (const TPage& p : static_cast<TPagesHolder*>(properties)->Items) {
        n += StringSize(p.Name) + StringSize(p.Template) + StringSize(p.LocalFolder) +
             StringSize(p.FileName) + StringSize(p.FtpFolder) + 1 + VarsSize(p.Values);
      }
      return n;
    case kStructString:
      return StringSize(static_cast<TStringHolder*>(properties)->Text);
    default:
      return 0;
  }
}

}  // namespace

size_t Project::EncodedSize() {
  size_t n = 4;
  if (DList1.First()) {
    std::string key;
    do {
      int32_t s = 0;
      void* p = nullptr;
      DList1.CurrentKey(key);
      DList1.CurrentStructure(s);
      DList1.CurrentProperties(p);
      n += StringSize(key) + 4 + StructureSize(s, p);
    } while (DList1.Next());
  }
  return n;
}

void Project::Save(const std::string& path) { DList1.SaveToFile(path, kFormat, EncodedSize()); }

std::string Project::SaveToBytes() { return DList1.SaveToBytes(kFormat, EncodedSize()); }

}  // namespace brindle
