// The project: the node list DList1 that holds every record, its dispose,
// save and load handlers, and the find-or-create accessors through which
// editing and building reach the records. The desktop app owns one; the
// command-line tool makes one per command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "project/DList.h"
#include "project/Records.h"

namespace brindle {

class Project {
 public:
  // The format value this program writes, and the highest it reads.
  static constexpr int32_t kFormat = 4;

  // Starts as an empty list: no key exists until an accessor creates one.
  Project();
  ~Project();
  Project(const Project&) = delete;
  Project& operator=(const Project&) = delete;

  // The list itself. Nodes added to it must carry, by structure id, a
  // holder from Records.h allocated with new (or null); the list owns it
  // from then on and the project's dispose handler deletes it.
  TDList& List() { return DList1; }
  const TDList& List() const { return DList1; }

  // Find-or-create: the array under "Vars", "Temps" or "Pages", creating
  // the node with an empty array when it is missing. A node under that key
  // with another structure id or no holder is replaced, since it cannot
  // hold the array. The reference stays valid until the node is replaced,
  // deleted or cleared.
  TVars& GetVars();
  TTemplates& GetTemps();
  TPages& GetPages();
  // The same for a one-string node ("Head", "Footer").
  std::string& GetText(std::string_view key);

  // Lookups that create nothing: null when the key is absent or holds
  // another structure.
  const TVars* FindVars() const;
  const TTemplates* FindTemps() const;
  const TPages* FindPages() const;
  const std::string* FindText(std::string_view key) const;

  // Removes every node (a new project).
  void Clear() { DList1.Clear(); }

  // Clears the project, then loads the file. A missing file leaves an
  // empty project; see LoadResult for the other outcomes.
  LoadResult Open(const std::string& path);
  // The same from a file image in memory; name appears in messages.
  LoadResult OpenBytes(std::string_view bytes, const std::string& name);
  // Writes the project file in format 4, keeping the previous file as
  // "Backup of <name>". Throws EFCreateError; the file is then unchanged.
  void Save(const std::string& path);
  // The bytes Save would write.
  std::string SaveToBytes();
  // Their number, counted from the records without writing them.
  size_t EncodedSize();

  // The list's handlers, bound by the constructor.
  static void DList1DisposeStructure(TDList& sender, int32_t structure, void* properties);
  static void DList1SaveStructure(TDList& sender, int32_t structure, void* properties,
                                  ByteSink& h, int32_t format);
  static void DList1LoadStructure(TDList& sender, int32_t structure, void*& properties,
                                  ByteSource& h, int32_t format);

 private:
  template <class Holder>
  Holder& FindOrCreate(std::string_view key, int32_t structure);
  template <class Holder>
  const Holder* FindHolder(std::string_view key, int32_t structure) const;

  TDList DList1;
};

}  // namespace brindle
