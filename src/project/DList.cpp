#include "project/DList.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

#include "project/FileIO.h"

namespace brindle {

// ---------------------------------------------------------------------------
// Stream routines

size_t ByteSource::ReadCount(const char* what, size_t minItemBytes) {
  size_t at = pos_;
  int32_t n = ReadInt32(what);
  if (n < 0) Fail(at, std::string(what) + " is negative (" + std::to_string(n) + ")");
  size_t count = static_cast<size_t>(n);
  if (minItemBytes > 0 && count > Left() / minItemBytes) {
    Fail(at, std::string(what) + " " + std::to_string(n) + " is more than the " +
                 std::to_string(Left()) + " bytes left can hold");
  }
  return count;
}

namespace {

int32_t CheckedLength(size_t n) {
  if (n > static_cast<size_t>(INT32_MAX)) {
    throw std::length_error("A text or list is too long for the project file");
  }
  return static_cast<int32_t>(n);
}

}  // namespace

void WriteString(ByteSink& h, std::string_view text) {
  h.WriteInt32(CheckedLength(text.size()));
  h.WriteBytes(text);
}

void ReadString(ByteSource& h, std::string& text) {
  size_t n = h.ReadCount("a string length", 1);
  std::string_view bytes = h.ReadBytes(n, "a string");
  // Text ends at the first NUL, as the format has always read it.
  const void* nul = n ? std::memchr(bytes.data(), 0, n) : nullptr;
  if (nul) bytes = bytes.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - bytes.data()));
  text.assign(bytes);
}

void WriteStrings(ByteSink& h, const std::vector<std::string>& list) {
  h.WriteInt32(CheckedLength(list.size()));
  for (const std::string& s : list) WriteString(h, s);
}

void ReadStrings(ByteSource& h, std::vector<std::string>& list) {
  size_t count = h.ReadCount("a line count");
  list.clear();
  list.reserve(h.Reservable(count, 4));
  for (size_t i = 0; i < count; ++i) {
    std::string s;
    ReadString(h, s);
    list.push_back(std::move(s));
  }
}

// ---------------------------------------------------------------------------
// Storage

TDList::TDList() = default;

TDList::~TDList() {
  try {
    Clear();
  } catch (...) {
    // A destructor cannot pass the error on; every node was still released.
  }
}

void TDList::Dispose(int32_t structure, void* properties) {
  if (OnDisposeStructure) OnDisposeStructure(*this, structure, properties);
}

void TDList::Add(std::string_view key, int32_t structure, void* properties) {
  if (key.empty()) return;
  if (!root_) root_ = new Table;
  Table* t = root_;
  for (size_t i = 0;; ++i) {
    uint8_t b = static_cast<uint8_t>(key[i]);
    Node*& slot = t->Slots[b];
    if (!slot) {
      slot = new Node;
      ++t->Count;
    }
    Node* n = slot;
    if (i + 1 == key.size()) {
      void* old = n->Properties;
      int32_t oldStructure = n->Structure;
      auto store = [&] {
        n->Assigned = true;
        n->Structure = structure;
        n->Properties = properties;
      };
      if (old && OnDisposeStructure) {
        try {
          OnDisposeStructure(*this, oldStructure, old);
        } catch (...) {
          store();
          throw;
        }
      }
      store();
      return;
    }
    if (!n->Child) {
      Table* c = new Table;
      c->Parent = t;
      c->ParentChar = b;
      n->Child = c;
    }
    t = n->Child;
  }
}

bool TDList::FindPosition(std::string_view key, Table*& table, uint8_t& byte) const {
  if (key.empty()) return false;
  Table* t = root_;
  for (size_t i = 0;; ++i) {
    if (!t) return false;
    uint8_t b = static_cast<uint8_t>(key[i]);
    Node* n = t->Slots[b];
    if (!n) return false;
    if (i + 1 == key.size()) {
      table = t;
      byte = b;
      return true;
    }
    t = n->Child;
  }
}

TDList::Node* TDList::FindNode(std::string_view key) const {
  Table* t;
  uint8_t b;
  if (!FindPosition(key, t, b)) return nullptr;
  Node* n = t->Slots[b];
  return n->Assigned ? n : nullptr;
}

bool TDList::Find(std::string_view key, int32_t& structure, void*& properties) const {
  Node* n = FindNode(key);
  if (!n) return false;
  structure = n->Structure;
  properties = n->Properties;
  return true;
}

void TDList::ReleaseTable(Table* t) {
  if (t == root_) {
    root_ = nullptr;
  } else {
    // The parent node stays even when it is now an unassigned leaf: lookups,
    // enumeration and the tracer all treat such a node as absent.
    t->Parent->Slots[t->ParentChar]->Child = nullptr;
  }
  if (cur_.table == t || cur_.start == t) cur_ = Cursor{};
  delete t;
}

void TDList::Delete(std::string_view key) {
  Table* t;
  uint8_t b;
  if (!FindPosition(key, t, b)) return;
  Node* n = t->Slots[b];
  n->Assigned = false;
  void* old = n->Properties;
  int32_t oldStructure = n->Structure;
  n->Properties = nullptr;
  n->Structure = 0;
  // The node is released even when the dispose handler fails, so the list
  // never keeps a pointer its owner has been told to forget.
  std::exception_ptr err;
  if (old) {
    try {
      Dispose(oldStructure, old);
    } catch (...) {
      err = std::current_exception();
    }
  }
  if (!n->Child) {
    delete n;
    t->Slots[b] = nullptr;
    if (--t->Count == 0) ReleaseTable(t);
  }
  if (err) std::rethrow_exception(err);
}

void TDList::Clear() {
  if (!root_) return;
  // Iterative so that a very long key cannot exhaust the stack.
  struct Frame {
    Table* table;
    int next;
  };
  std::vector<Frame> stack;
  stack.push_back({root_, 0});
  std::exception_ptr err;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < 256) {
      Node* n = f.table->Slots[f.next];
      if (!n) {
        ++f.next;
        continue;
      }
      if (n->Child) {
        Table* c = n->Child;
        n->Child = nullptr;  // come back to this node once its branch is gone
        stack.push_back({c, 0});
        continue;
      }
      if (n->Properties) {
        void* p = n->Properties;
        n->Properties = nullptr;
        try {
          Dispose(n->Structure, p);
        } catch (...) {
          if (!err) err = std::current_exception();
        }
      }
      ++f.next;
    } else {
      Table* t = f.table;
      stack.pop_back();
      for (Node* n : t->Slots) delete n;
      delete t;
    }
  }
  root_ = nullptr;
  cur_ = Cursor{};
  if (err) std::rethrow_exception(err);
}

// ---------------------------------------------------------------------------
// Enumeration

void TDList::SetScope(std::string_view rootPath, int32_t minLevel, int32_t maxLevel) {
  rootPath_.assign(rootPath);
  minLevel_ = minLevel;
  maxLevel_ = maxLevel;
  cur_ = Cursor{};
}

bool TDList::Reportable() const {
  const Node* n = cur_.table->Slots[cur_.byte];
  if (!n || !n->Assigned) return false;
  int32_t level = cur_.seps + (cur_.byte == static_cast<uint8_t>(Separator) ? 1 : 0);
  return level >= minLevel_ && level <= maxLevel_;
}

bool TDList::Accepted() {
  if (!OnFilter) return true;
  const Node* n = cur_.table->Slots[cur_.byte];
  bool enabled = true;
  OnFilter(*this, rootPath_ + cur_.rel, n->Structure, kListMode, n->Properties, enabled);
  return enabled;
}

bool TDList::First() {
  Table* start = root_;
  cur_ = Cursor{};
  if (!rootPath_.empty()) {
    Table* t;
    uint8_t b;
    if (!FindPosition(rootPath_, t, b)) return false;
    start = t->Slots[b]->Child;
  }
  if (!start) return false;
  cur_.table = start;
  cur_.start = start;
  cur_.byte = 0;
  cur_.rel.assign(1, '\0');
  cur_.depth = static_cast<int32_t>(rootPath_.size());
  cur_.seps = 0;
  if (Reportable() && Accepted()) return true;
  return Next();
}

bool TDList::Next() {
  for (;;) {
    if (!StepNext()) return false;
    if (Accepted()) return true;
  }
}

// One depth-first step to the next reportable node, ignoring the filter.
bool TDList::StepNext() {
  if (!cur_.table) return false;
  Cursor saved = cur_;
  const uint8_t sep = static_cast<uint8_t>(Separator);
  bool mayDescend = true;
  for (;;) {
    const Node* n = cur_.table->Slots[cur_.byte];
    if (mayDescend && n && n->Child && !(cur_.byte == sep && cur_.seps >= maxLevel_)) {
      // Below a separator at the top level every key lies above the scope.
      if (cur_.byte == sep) ++cur_.seps;
      cur_.rel.push_back('\0');
      ++cur_.depth;
      cur_.table = n->Child;
      cur_.byte = 0;
      if (Reportable()) return true;
      continue;
    }
    if (cur_.byte < 255) {
      ++cur_.byte;
      cur_.rel.back() = static_cast<char>(cur_.byte);
      mayDescend = true;
      if (Reportable()) return true;
      continue;
    }
    if (cur_.table == cur_.start) {
      cur_ = std::move(saved);
      return false;
    }
    cur_.byte = cur_.table->ParentChar;
    cur_.table = cur_.table->Parent;
    cur_.rel.pop_back();
    --cur_.depth;
    if (cur_.byte == sep) --cur_.seps;
    mayDescend = false;  // continue after the slot that led down
  }
}

bool TDList::CurrentKey(std::string& key) const {
  if (!cur_.table) return false;
  key = rootPath_ + cur_.rel;
  return true;
}

bool TDList::CurrentStructure(int32_t& structure) const {
  if (!cur_.table || !cur_.table->Slots[cur_.byte]) return false;
  structure = cur_.table->Slots[cur_.byte]->Structure;
  return true;
}

bool TDList::CurrentProperties(void*& properties) const {
  if (!cur_.table || !cur_.table->Slots[cur_.byte]) return false;
  properties = cur_.table->Slots[cur_.byte]->Properties;
  return true;
}

// ---------------------------------------------------------------------------
// Tracer

void TTracer::SetPath(std::string_view path) {
  pos_ = TTracerPosition{};
  dlist_detail::Table* t;
  uint8_t b;
  if (!path.empty() && list_->FindPosition(path, t, b)) {
    pos_.Table = t;
    pos_.Byte = b;
  }
}

}  // namespace brindle

// ---------------------------------------------------------------------------
// File operations

namespace brindle {

std::string TDList::SaveToBytes(int32_t format, size_t sizeHint) {
  std::string out;
  out.reserve(sizeHint);
  ByteSink h(out);
  h.WriteInt32(format);
  if (OnFileHeader) OnFileHeader(*this, &h, nullptr, haWrite, format, 4);
  if (First()) {
    std::string key;
    do {
      int32_t structure = 0;
      void* properties = nullptr;
      CurrentKey(key);
      CurrentStructure(structure);
      CurrentProperties(properties);
      WriteString(h, key);
      h.WriteInt32(structure);
      if (OnSaveStructure) OnSaveStructure(*this, structure, properties, h, format);
    } while (Next());
  }
  return out;
}

namespace {

// Keeps the file currently at `path` as "Backup of <name>" beside it,
// replacing an older backup. A hard link keeps the project file in place
// until the new one is renamed over it; where links are not supported the
// file is copied instead, never moved away.
void MakeBackup(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::string backup = FolderPart(path) + "Backup of " + FileNamePart(path);
  if (::unlink(backup.c_str()) != 0 && errno != ENOENT) throw EFCreateError(backup, errno);
  if (::link(path.c_str(), backup.c_str()) == 0) return;
  int err = errno;
  if (err != EPERM && err != EOPNOTSUPP && err != EMLINK && err != ENOSYS && err != EXDEV) {
    throw EFCreateError(backup, err);
  }
  try {
    WriteFileBytes(backup, ReadFileBytes(path));
  } catch (const EFOpenError& e) {
    ::unlink(backup.c_str());
    throw EFCreateError(backup, e.SystemError());
  } catch (...) {
    ::unlink(backup.c_str());
    throw;
  }
}

}  // namespace

void TDList::SaveToFile(const std::string& path, int32_t format, size_t sizeHint) {
  std::string bytes = SaveToBytes(format, sizeHint);
  // Through a symbolic link the file it leads to is saved, and backed up
  // beside itself.
  WriteFileAtomically(path, bytes, 0666, false, [](const std::string& target) { MakeBackup(target); });
}

LoadResult TDList::LoadFromFile(const std::string& path, int32_t maxFormat) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(path);
  } catch (const EFOpenError& e) {
    LoadResult r;
    if (e.SystemError() == ENOENT) {
      r.Outcome = LoadOutcome::Missing;
    } else {
      r.Outcome = LoadOutcome::Unreadable;
      r.Message = e.what();
    }
    return r;
  }
  return LoadFromBytes(bytes, maxFormat, path);
}

LoadResult TDList::LoadFromBytes(std::string_view bytes, int32_t maxFormat,
                                 const std::string& name) {
  LoadResult r;
  if (bytes.empty()) return r;
  ByteSource h(bytes);
  // A node whose key Add would ignore must still give its properties back.
  auto addLoaded = [&](std::string_view key, int32_t structure, void* properties) {
    if (key.empty()) {
      if (properties) Dispose(structure, properties);
    } else {
      Add(key, structure, properties);
    }
  };
  try {
    int32_t format = h.ReadInt32("the format value");
    r.Format = format;
    if (format > maxFormat) {
      r.Outcome = LoadOutcome::FormatTooNew;
      r.Message = "File \"" + name + "\" has format " + std::to_string(format) +
                  "; this version reads formats up to " + std::to_string(maxFormat) + ".";
      return r;
    }
    if (OnFileHeader) OnFileHeader(*this, nullptr, &h, haRead, format, 4);
    size_t keyBytes = 0;
    while (!h.AtEnd()) {
      size_t at = h.Position();
      size_t length = h.ReadCount("a key length", 1);
      if (length > kMaxLoadedKeyBytes - keyBytes) {
        ByteSource::Fail(at, "the keys take more than " + std::to_string(kMaxLoadedKeyBytes) +
                                 " bytes in all, far beyond any project");
      }
      keyBytes += length;
      std::string_view key = h.ReadBytes(length, "a key");
      int32_t structure = h.ReadInt32("a structure id");
      void* properties = nullptr;
      if (OnLoadStructure) {
        try {
          OnLoadStructure(*this, structure, properties, h, format);
        } catch (...) {
          addLoaded(key, structure, properties);
          throw;
        }
      }
      addLoaded(key, structure, properties);
    }
  } catch (const EReadError& e) {
    r.Outcome = LoadOutcome::Damaged;
    r.Message = "File \"" + name + "\" is damaged at byte " + std::to_string(e.Offset()) + ": " +
                e.what() + ".";
  }
  return r;
}

}  // namespace brindle
