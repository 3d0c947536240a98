// The keyed node list: a byte trie that maps keys to nodes, each carrying a
// structure id and an opaque properties pointer that belongs to the list's
// user. The list calls its user back to dispose, save and load properties.
// TTracer walks the same trie one byte at a time for the token scanner.
//
// Single-threaded: a list and its tracers are used from one thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class TDList;

// ---------------------------------------------------------------------------
// Byte streams standing in for the open file handle of the file operations.

// Appends to a caller-owned buffer. Writing cannot fail; the buffer goes to
// disk in one piece afterwards, where failures are checked.
class ByteSink {
 public:
  explicit ByteSink(std::string& out) : out_(out) {}
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  void WriteInt32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                 static_cast<char>(u >> 24)};
    out_.append(b, 4);
  }
  void WriteByte(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void WriteBytes(std::string_view bytes) { out_.append(bytes); }
  // Bytes written so far, counting from the start of the buffer.
  size_t Position() const { return out_.size(); }

 private:
  std::string& out_;
};

// Raised by ByteSource and the read routines when the data cannot hold what
// is being read: it ends early, or a length or count is negative or larger
// than the bytes left. Offset is where the offending item starts.
class EReadError : public std::runtime_error {
 public:
  EReadError(size_t offset, const std::string& what)
      : std::runtime_error(what), offset_(offset) {}
  size_t Offset() const { return offset_; }

 private:
  size_t offset_;
};

// Reads from a caller-owned block of memory, which must outlive the source.
// Every read is bounded by the bytes left and throws EReadError instead of
// reading past the end.
class ByteSource {
 public:
  explicit ByteSource(std::string_view data) : data_(data) {}
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  size_t Position() const { return pos_; }
  size_t Left() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  int32_t ReadInt32(const char* what) {
    if (Left() < 4) Fail(pos_, std::string("the data ends inside ") + what);
    const auto* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    pos_ += 4;
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
  }
  uint8_t ReadByte(const char* what) {
    if (Left() < 1) Fail(pos_, std::string("the data ends inside ") + what);
    return static_cast<uint8_t>(data_[pos_++]);
  }
  // A view of the next n bytes (valid as long as the data), then skips them.
  std::string_view ReadBytes(size_t n, const char* what) {
    if (Left() < n) Fail(pos_, std::string("the data ends inside ") + what);
    std::string_view v = data_.substr(pos_, n);
    pos_ += n;
    return v;
  }
  // Reads a length or count (int32); a negative one is damage. With
  // minItemBytes > 0 (a byte length) it must also fit in the bytes left.
  // Counts of records are not checked here: their records are read one by
  // one until the data fails, so the complete ones are kept.
  size_t ReadCount(const char* what, size_t minItemBytes = 0);
  // How many of `count` items of at least minItemBytes each the bytes left
  // could hold: the most worth reserving for.
  size_t Reservable(size_t count, size_t minItemBytes) const {
    size_t fit = Left() / minItemBytes;
    return count < fit ? count : fit;
  }

  [[noreturn]] static void Fail(size_t offset, const std::string& what) {
    throw EReadError(offset, what);
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// The four stream routines of the project file. A string is an int32 length
// and that many bytes; a string list is an int32 count and that many
// strings. ReadString keeps the bytes up to the first NUL among them.
// The read routines throw EReadError on damaged data.
void WriteString(ByteSink& h, std::string_view text);
void ReadString(ByteSource& h, std::string& text);
void WriteStrings(ByteSink& h, const std::vector<std::string>& list);
void ReadStrings(ByteSource& h, std::vector<std::string>& list);

// ---------------------------------------------------------------------------
// Load results. Loading never throws for a bad file; it says what happened.

enum class LoadOutcome {
  Loaded,        // the whole file was read (a 0-byte file loads nothing)
  Missing,       // no file at the path: nothing loaded, not an error
  Unreadable,    // the file exists but could not be read
  FormatTooNew,  // the format value is above the accepted maximum
  Damaged,       // the file ends early or holds an impossible value; what
                 // came before the damage has been loaded
};

struct LoadResult {
  LoadOutcome Outcome = LoadOutcome::Loaded;
  int32_t Format = 0;    // the format value read, 0 when there was none
  std::string Message;   // names the path and the fault; empty when Loaded
                         // or Missing
};

enum THeaderAction { haRead = 0, haWrite = 1 };

// ---------------------------------------------------------------------------
// Trie storage. Exposed only so that TTracer::Step can be inlined into the
// scanner's loop; nothing outside DList touches it.
namespace dlist_detail {

struct Table;

struct Node {
  bool Assigned = false;       // a key ends here
  int32_t Structure = 0;       // 0 when not assigned
  void* Properties = nullptr;  // owned by the list's user
  Table* Child = nullptr;      // keys continuing past this byte
};

struct Table {
  Table* Parent = nullptr;
  uint8_t ParentChar = 0;  // the byte by which Parent leads here
  uint16_t Count = 0;      // occupied slots
  Node* Slots[256] = {};
};

}  // namespace dlist_detail

// ---------------------------------------------------------------------------

class TDList {
 public:
  TDList();
  // Clears the list: every non-null properties pointer still held is handed
  // to OnDisposeStructure (errors it raises are swallowed here).
  ~TDList();
  TDList(const TDList&) = delete;
  TDList& operator=(const TDList&) = delete;

  // Level separator for scopes; keys themselves treat it as any other byte.
  char Separator = '_';

  // Raised whenever non-null properties leave a node: replaced by Add,
  // removed by Delete, or dropped by Clear or destruction. The handler owns
  // and frees them. An exception from it reaches the caller only after the
  // operation has completed.
  std::function<void(TDList& sender, int32_t structure, void* properties)> OnDisposeStructure;
  // Raised by SaveToBytes with haWrite right after the format value (sink
  // set), and by loading with haRead right after an accepted format value
  // (source set). initPos is 4.
  std::function<void(TDList& sender, ByteSink* sink, ByteSource* source, THeaderAction action,
                     int32_t format, int32_t initPos)>
      OnFileHeader;
  // Raised once per saved node after its key and structure id; writes the
  // structure's bytes.
  std::function<void(TDList& sender, int32_t structure, void* properties, ByteSink& h,
                     int32_t format)>
      OnSaveStructure;
  // Raised once per loaded node; properties enter null. The handler reads
  // the structure and returns new properties. To keep what it read before
  // damage, it should store its new object in `properties` first and fill
  // it record by record: when it throws EReadError the node is still added
  // with whatever `properties` then holds.
  std::function<void(TDList& sender, int32_t structure, void*& properties, ByteSource& h,
                     int32_t format)>
      OnLoadStructure;
  // Raised for each node an enumeration would report; listMode is -1,
  // enabled enters true, and false skips the node.
  std::function<void(TDList& sender, const std::string& key, int32_t structure, int32_t listMode,
                     void* properties, bool& enabled)>
      OnFilter;
  // Declared for completeness; the list never raises it.
  std::function<void(TDList& sender, const std::string& key, int32_t structure,
                     int32_t filterMode, void* properties, bool& canDelete)>
      OnDeleteFilter;

  // Stores or replaces the node of key (old properties are disposed first).
  // An empty key is ignored and its properties are not taken over.
  void Add(std::string_view key, int32_t structure, void* properties);
  // True, with both values set, when key is an assigned key.
  bool Find(std::string_view key, int32_t& structure, void*& properties) const;
  // Removes key, disposing its properties. Unknown keys are ignored.
  void Delete(std::string_view key);
  // Removes every key, disposing properties depth first: longer keys of a
  // branch before shorter ones, branches in ascending byte order.
  void Clear();
  bool Empty() const { return root_ == nullptr; }

  // Enumeration: keys beginning with rootPath, longer than it, whose number
  // of separators after rootPath lies in [minLevel, maxLevel], in ascending
  // unsigned byte order. Drops the cursor.
  void SetScope(std::string_view rootPath, int32_t minLevel, int32_t maxLevel);
  bool First();
  bool Next();
  // The cursor's full key; false when there is no cursor.
  bool CurrentKey(std::string& key) const;
  // False when there is no cursor or no node at it.
  bool CurrentStructure(int32_t& structure) const;
  bool CurrentProperties(void*& properties) const;

  // The file image: the int32 format value, then each enumerated node as
  // key (int32 length + bytes), structure id and OnSaveStructure's bytes.
  // Uses the enumeration cursor. sizeHint, when known, sizes the buffer
  // once instead of growing it.
  std::string SaveToBytes(int32_t format, size_t sizeHint = 0);
  // Writes SaveToBytes(format) to path without ever leaving a partial file
  // there. An existing file first becomes "Backup of <name>" in the same
  // folder, replacing any older backup. A symbolic link at path stays: the
  // file it leads to is the one replaced and backed up. On failure throws
  // EFCreateError naming the path and the reason, and path is left as it was.
  void SaveToFile(const std::string& path, int32_t format, size_t sizeHint = 0);
  // Adds the nodes stored in the file at path (the list is not cleared
  // first; present keys are replaced). Never throws for a bad file: the
  // result says what happened. Exceptions other than damage that escape
  // OnLoadStructure pass through after the node is added.
  LoadResult LoadFromFile(const std::string& path, int32_t maxFormat);
  // The same from memory; name is used in messages.
  LoadResult LoadFromBytes(std::string_view bytes, int32_t maxFormat, const std::string& name);

  // All keys read by one load may hold at most this many bytes together.
  // The trie costs about 2 KiB per key byte, so this bounds the memory a
  // foreign or damaged file can make a load take. A project's own keys are
  // a few short names.
  static constexpr size_t kMaxLoadedKeyBytes = 64 * 1024;

 private:
  friend class TTracer;
  using Node = dlist_detail::Node;
  using Table = dlist_detail::Table;

  struct Cursor {
    Table* table = nullptr;  // null: no cursor
    Table* start = nullptr;
    uint8_t byte = 0;
    std::string rel;  // the key below the root path leading to the slot
    int32_t depth = 0;
    int32_t seps = 0;  // separators on the path to `table`
  };

  Node* FindNode(std::string_view key) const;
  // The table holding the node reached by key, and its byte, assigned or not.
  bool FindPosition(std::string_view key, Table*& table, uint8_t& byte) const;
  void Dispose(int32_t structure, void* properties);
  void ReleaseTable(Table* t);
  bool Reportable() const;
  bool Accepted();
  bool StepNext();

  Table* root_ = nullptr;
  std::string rootPath_;
  int32_t minLevel_ = 0;
  int32_t maxLevel_ = 0;
  static constexpr int32_t kListMode = -1;
  Cursor cur_;
};

// A position in a list's trie: a table and a slot byte, or none (before the
// root table). Valid only while the list is not changed.
struct TTracerPosition {
  const dlist_detail::Table* Table = nullptr;
  uint8_t Byte = 0;
};

// Walks a list's keys one byte at a time. Owns nothing and changes nothing;
// the list must outlive it and must not change while it is used.
class TTracer {
 public:
  explicit TTracer(const TDList& list) : list_(&list) {}

  // Empty path: no position. Otherwise the node reached by path (assigned
  // or not), or no position when the path breaks off.
  void SetPath(std::string_view path);

  // Advances by one byte. True when the text read so far is a stored key or
  // a prefix of one: assigned tells which, structure is the node's id, and
  // properties is set only for an assigned node. False leaves the position
  // and the out values unchanged.
  bool Step(char ch, bool& assigned, int32_t& structure, void*& properties) {
    const dlist_detail::Table* t;
    if (pos_.Table == nullptr) {
      t = list_->root_;
    } else {
      const dlist_detail::Node* at = pos_.Table->Slots[pos_.Byte];
      if (at == nullptr) return false;
      t = at->Child;
    }
    if (t == nullptr) return false;
    uint8_t b = static_cast<uint8_t>(ch);
    const dlist_detail::Node* n = t->Slots[b];
    if (n == nullptr || (!n->Assigned && n->Child == nullptr)) return false;
    pos_.Table = t;
    pos_.Byte = b;
    assigned = n->Assigned;
    structure = n->Structure;
    if (n->Assigned) properties = n->Properties;
    return true;
  }

  void GetPosition(TTracerPosition& pos) const { pos = pos_; }
  void SetPosition(const TTracerPosition& pos) { pos_ = pos; }

 private:
  const TDList* list_;
  TTracerPosition pos_;
};

}  // namespace brindle
