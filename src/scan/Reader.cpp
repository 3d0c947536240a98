#include "scan/Reader.h"

#include <utility>

namespace brindle {

std::string LowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

// Brackets one public change of the reader: errors raised by dispose
// handlers are held back until the change is complete, and the delimiter
// table is brought up to date whichever way the change ends.
class TReader::Change {
 public:
  explicit Change(TReader& reader) : reader_(reader) { reader_.pending_ = nullptr; }
  ~Change() { reader_.RefreshDelimiterTable(); }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

  void Finish() {
    reader_.RefreshDelimiterTable();
    if (reader_.pending_) {
      std::exception_ptr error = std::exchange(reader_.pending_, nullptr);
      std::rethrow_exception(error);
    }
  }

 private:
  TReader& reader_;
};

TReader::TReader() {
  // NUL as the separator: the dictionary's keys are character sequences,
  // never split into levels.
  words_.Separator = '\0';
  words_.OnDisposeStructure = [this](TDList&, int32_t structure, void* properties) {
    OnWordsDispose(structure, properties);
  };
}

TReader::~TReader() {
  try {
    words_.Clear();
  } catch (...) {
    // A destructor cannot report; every entry has been released anyway.
  }
}

void TReader::SetNumericFormat(TNumericFormat format) {
  numericFormat_ = format;
  decimalChar_ = format == nfComma ? ',' : '.';
}

void TReader::ClearBlanks() {
  for (uint8_t& c : charClass_) c &= static_cast<uint8_t>(~kBlankClass);
}

void TReader::SetDefaultBlanks() {
  ClearBlanks();
  for (size_t c = 0; c <= 32; ++c) charClass_[c] |= kBlankClass;
}

void TReader::RemoveBlank(char ch) {
  charClass_[static_cast<uint8_t>(ch)] &= static_cast<uint8_t>(~kBlankClass);
}

const TSymProperties* TReader::FindEntry(std::string_view key) const {
  int32_t structure = 0;
  void* properties = nullptr;
  if (!words_.Find(key, structure, properties) || structure != 0) return nullptr;
  return static_cast<const TSymProperties*>(properties);
}

TSymProperties* TReader::MutableEntry(std::string_view key) {
  return const_cast<TSymProperties*>(FindEntry(key));
}

void TReader::AddEntry(std::string_view key, TSymProperties entry) {
  auto owned = std::make_unique<TSymProperties>(std::move(entry));
  words_.Add(key, 0, owned.get());
  owned.release();  // the list holds it now; OnWordsDispose frees it
}

bool TReader::IsDelimiter(std::string_view str) const {
  const TSymProperties* entry = FindEntry(str);
  return entry != nullptr && entry->Status == stDelimiter;
}

void TReader::RaiseDispose(int32_t structure, void* properties) {
  if (properties == nullptr || !OnDisposeProperties) return;
  try {
    OnDisposeProperties(*this, structure, properties);
  } catch (...) {
    if (!pending_) pending_ = std::current_exception();
  }
}

void TReader::DisposeVariants(TSymProperties& entry) {
  // Detach first, so that a handler's error cannot leave a variant behind
  // to be disposed a second time.
  std::vector<TCSVariant> variants = std::move(entry.CSAdd);
  entry.CSAdd.clear();
  for (const TCSVariant& v : variants) RaiseDispose(v.Structure, v.Properties);
}

void TReader::OnWordsDispose(int32_t structure, void* properties) {
  if (structure != 0 || properties == nullptr) return;
  std::unique_ptr<TSymProperties> entry(static_cast<TSymProperties*>(properties));
  DisposeVariants(*entry);
  RaiseDispose(entry->Structure, entry->Properties);
}

void TReader::RefreshDelimiterTable() {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    uint8_t& cls = charClass_[static_cast<size_t>(c)];
    cls = static_cast<uint8_t>((cls & ~kDelimiterClass) |
                               (IsDelimiter(std::string_view(&ch, 1)) ? kDelimiterClass : 0));
  }
}

void TReader::AddDelimiterEntry(std::string_view str, int32_t structure, int32_t keyNum,
                                void* properties) {
  if (str.empty()) return;
  if (str.size() > 1) {
    for (size_t i = 0; i < str.size(); ++i) {
      std::string_view key = str.substr(i, 1);
      TSymProperties* entry = MutableEntry(key);
      if (entry == nullptr) {
        AddEntry(key, TSymProperties{0, -1, std::string(key), stDelimiter, nullptr, {}});
        continue;
      }
      if (entry->Status != stDelimiter) {
        const int32_t oldStructure = entry->Structure;
        void* oldProperties = entry->Properties;
        entry->Str = std::string(key);
        entry->Status = stDelimiter;
        entry->KeyNum = -1;
        entry->Structure = 0;
        entry->Properties = nullptr;
        RaiseDispose(oldStructure, oldProperties);
      }
      DisposeVariants(*entry);
    }
  }
  TSymProperties* entry = MutableEntry(str);
  if (entry == nullptr) {
    AddEntry(str, TSymProperties{structure, keyNum, std::string(str), stDelimiter, properties, {}});
    return;
  }
  const int32_t oldStructure = entry->Structure;
  void* oldProperties = entry->Properties;
  entry->Str = std::string(str);
  entry->Status = stDelimiter;
  entry->KeyNum = keyNum;
  entry->Structure = structure;
  entry->Properties = properties;
  // Re-adding with the properties the entry already holds must not hand
  // them to the owner for freeing while they stay in use.
  if (oldProperties != properties) RaiseDispose(oldStructure, oldProperties);
  DisposeVariants(*entry);
}

void TReader::AddDelimiter(std::string_view str, int32_t structure, int32_t keyNum,
                           void* properties) {
  Change change(*this);
  AddDelimiterEntry(str, structure, keyNum, properties);
  change.Finish();
}

void TReader::SetDefaultDelimiters() {
  static constexpr std::string_view kDefaults = "!@#$%^&*()+|-=\\[]{};':\",./<>?";
  static_assert(kDefaults.size() == 29);
  Change change(*this);
  RemoveStatusEntries(stDelimiter);
  for (size_t i = 0; i < kDefaults.size(); ++i) {
    AddDelimiterEntry(kDefaults.substr(i, 1), 0, static_cast<uint8_t>(kDefaults[i]), nullptr);
  }
  change.Finish();
}

void TReader::RemoveStatusEntries(int32_t status) {
  // Collect first: deleting keys while the list is enumerated would pull
  // tables from under its cursor.
  std::vector<std::string> doomed;
  std::string key;
  void* properties = nullptr;
  if (words_.First()) {
    do {
      if (!words_.CurrentKey(key) || !words_.CurrentProperties(properties)) continue;
      int32_t structure = 0;
      if (!words_.CurrentStructure(structure) || structure != 0 || properties == nullptr) continue;
      auto* entry = static_cast<TSymProperties*>(properties);
      if (entry->Status == status) {
        doomed.push_back(key);
        continue;
      }
      // Variants of the status go one by one; the entry goes with the last
      // of them only when it carried nothing but variants.
      std::vector<TCSVariant> removed;
      auto& variants = entry->CSAdd;
      for (auto it = variants.begin(); it != variants.end();) {
        if (it->Status == status) {
          removed.push_back(std::move(*it));
          it = variants.erase(it);
        } else {
          ++it;
        }
      }
      if (!removed.empty() && variants.empty() && entry->Status == 0) doomed.push_back(key);
      for (const TCSVariant& v : removed) RaiseDispose(v.Structure, v.Properties);
    } while (words_.Next());
  }
  for (const std::string& k : doomed) words_.Delete(k);
}

void TReader::RemoveStatus(int32_t status) {
  Change change(*this);
  RemoveStatusEntries(status);
  change.Finish();
}

void TReader::RemoveWord(std::string_view str) {
  Change change(*this);
  const std::string key = LowerText(str);
  int32_t structure = 0;
  void* properties = nullptr;
  if (!words_.Find(key, structure, properties)) return;
  if (properties == nullptr || structure != 0) {
    words_.Delete(key);
    change.Finish();
    return;
  }
  auto* entry = static_cast<TSymProperties*>(properties);
  auto& variants = entry->CSAdd;
  for (auto it = variants.begin(); it != variants.end(); ++it) {
    if (it->Str != str) continue;
    TCSVariant removed = std::move(*it);
    variants.erase(it);
    RaiseDispose(removed.Structure, removed.Properties);
    if (variants.empty() && entry->Status == 0) words_.Delete(key);
    change.Finish();
    return;
  }
  if (variants.empty()) {
    words_.Delete(key);
  } else {
    // The node stays for its variants; only the entry's own word goes.
    const int32_t oldStructure = entry->Structure;
    void* oldProperties = entry->Properties;
    entry->Structure = 0;
    entry->Str.clear();
    entry->Status = 0;
    entry->KeyNum = -1;
    entry->Properties = nullptr;
    RaiseDispose(oldStructure, oldProperties);
  }
  change.Finish();
}

void TReader::AddWord(std::string_view str, int32_t structure, int32_t keyNum, int32_t status,
                      void* properties) {
  if (str.empty()) return;
  Change change(*this);
  const std::string key = LowerText(str);
  TSymProperties* entry = MutableEntry(key);
  if (entry == nullptr) {
    AddEntry(key, TSymProperties{structure, keyNum, std::string(str), status, properties, {}});
  } else {
    const int32_t oldStructure = entry->Structure;
    void* oldProperties = entry->Properties;
    entry->Structure = structure;
    entry->KeyNum = keyNum;
    entry->Str = std::string(str);
    entry->Status = status;
    entry->Properties = properties;
    if (oldProperties != properties) RaiseDispose(oldStructure, oldProperties);
    DisposeVariants(*entry);
  }
  change.Finish();
}

void TReader::AddVariant(std::string_view str, int32_t structure, int32_t keyNum, int32_t status,
                         void* properties) {
  if (str.empty()) return;
  Change change(*this);
  const std::string key = LowerText(str);
  TCSVariant variant{structure, keyNum, std::string(str), status, properties};
  TSymProperties* entry = MutableEntry(key);
  if (entry == nullptr) {
    TSymProperties carrier;
    carrier.CSAdd.push_back(std::move(variant));
    AddEntry(key, std::move(carrier));
  } else {
    bool replaced = false;
    for (TCSVariant& v : entry->CSAdd) {
      if (v.Str != str) continue;
      TCSVariant old = std::exchange(v, std::move(variant));
      if (old.Properties != properties) RaiseDispose(old.Structure, old.Properties);
      replaced = true;
      break;
    }
    if (!replaced) entry->CSAdd.push_back(std::move(variant));
  }
  change.Finish();
}

void ConfigureMainReader(TReader& reader) {
  reader.SetDefaultBlanks();
  reader.RemoveBlank('\n');
  reader.RemoveBlank('\r');
  reader.SetDefaultDelimiters();
  reader.RemoveWord("_");
  reader.AddDelimiter("\n", 0, 10, nullptr);
  reader.AddDelimiter("\r", 0, 13, nullptr);
}

}  // namespace brindle
