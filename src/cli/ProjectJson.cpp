#include "cli/ProjectJson.h"

#include <nlohmann/json.hpp>

#include "project/Project.h"
#include "project/Records.h"

namespace brindle {

using Json = nlohmann::ordered_json;

bool IsValidUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) { ++i; continue; }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
    else return false;
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

namespace {

const char kHex[] = "0123456789abcdef";

Json Str(const std::string& s) {
  if (IsValidUtf8(s)) return Json(s);
  std::string hex;
  hex.reserve(s.size() * 2);
  for (unsigned char c : s) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  Json o = Json::object();
  o["hex"] = hex;
  return o;
}

Json VarsJson(const TVars& vars) {
  Json a = Json::array();
  for (const TVar& v : vars) {
    Json o = Json::object();
    o["name"] = Str(v.Name);
    o["value"] = Str(v.Value);
    a.push_back(std::move(o));
  }
  return a;
}

// --- import: a decoder that remembers where it is, for error messages ---

class Place {
 public:
  Place(const Json& j, std::string path) : j_(j), path_(std::move(path)) {}
  const Json& json() const { return j_; }
  [[noreturn]] void Fail(const std::string& what) const {
    throw EJsonImportError((path_.empty() ? std::string("top level") : path_) + ": " + what);
  }
  Place Field(const char* name) const { return Place(j_.at(name), Join(name)); }
  Place Item(size_t i) const { return Place(j_.at(i), path_ + "[" + std::to_string(i) + "]"); }
  bool Has(const char* name) const { return j_.contains(name); }

  void ExpectObject(std::initializer_list<const char*> allowed) const {
    if (!j_.is_object()) Fail("expected an object");
    for (auto it = j_.begin(); it != j_.end(); ++it) {
      bool ok = false;
      for (const char* a : allowed) ok = ok || it.key() == a;
      if (!ok) Fail("unknown field \"" + it.key() + "\"");
    }
  }
  size_t ArraySize() const {
    if (!j_.is_array()) Fail("expected an array");
    return j_.size();
  }
  std::string String() const {
    if (j_.is_string()) return j_.get<std::string>();
    if (j_.is_object() && j_.size() == 1 && j_.contains("hex") && j_["hex"].is_string()) {
      const std::string& h = j_["hex"].get_ref<const std::string&>();
      if (h.size() % 2) Fail("hex string of odd length");
      std::string out;
      out.reserve(h.size() / 2);
      for (size_t i = 0; i < h.size(); i += 2) out += static_cast<char>(Nibble(h[i]) * 16 + Nibble(h[i + 1]));
      return out;
    }
    Fail("expected a string or {\"hex\":\"…\"}");
  }
  std::string OptString(const char* name) const { return Has(name) ? Field(name).String() : std::string(); }
  int32_t Int32() const {
    if (!j_.is_number_integer()) Fail("expected an integer");
    auto v = j_.get<int64_t>();
    if (j_.is_number_unsigned() && j_.get<uint64_t>() > INT32_MAX) Fail("integer out of range");
    if (v < INT32_MIN || v > INT32_MAX) Fail("integer out of range");
    return static_cast<int32_t>(v);
  }
  bool Bool() const {
    if (!j_.is_boolean()) Fail("expected true or false");
    return j_.get<bool>();
  }

 private:
  std::string Join(const char* name) const { return path_.empty() ? name : path_ + "." + name; }
  int Nibble(char c) const {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    Fail("not a hex digit");
  }
  const Json& j_;
  std::string path_;
};

TVars ReadVars(const Place& p) {
  TVars out;
  size_t n = p.ArraySize();
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    Place v = p.Item(i);
    v.ExpectObject({"name", "value"});
    out.push_back(TVar{v.OptString("name"), v.OptString("value")});
  }
  return out;
}

}  // namespace

std::string ExportProjectJson(const Project& project, int format) {
  Json root = Json::object();
  root["format"] = format;
  Json nodes = Json::array();
  // Enumeration needs a cursor, which lives in the list: walk a const list
  // through a mutable reference; the walk changes nothing else.
  TDList& list = const_cast<Project&>(project).List();
  if (list.First()) {
    do {
      std::string key;
      int32_t structure = 0;
      void* props = nullptr;
      list.CurrentKey(key);
      list.CurrentStructure(structure);
      list.CurrentProperties(props);
      Json node = Json::object();
      node["key"] = Str(key);
      node["structure"] = structure;
      switch (structure) {
        case kStructVars:
          node["vars"] = props ? VarsJson(static_cast<TVarsHolder*>(props)->Items) : Json::array();
          break;
        case kStructTemplates: {
          Json a = Json::array();
          if (props)
            for (const TTemplate& t : static_cast<TTemplatesHolder*>(props)->Items) {
              Json o = Json::object();
              o["name"] = Str(t.Name);
              o["text"] = Str(t.Text);
              Json lv = Json::array();
              for (const std::string& s : t.LocalVars) lv.push_back(Str(s));
              o["localVars"] = std::move(lv);
              a.push_back(std::move(o));
            }
          node["templates"] = std::move(a);
          break;
        }
        case kStructPages: {
          Json a = Json::array();
          if (props)
            for (const TPage& pg : static_cast<TPagesHolder*>(props)->Items) {
              Json o = Json::object();
              o["name"] = Str(pg.Name);
              o["template"] = Str(pg.Template);
              o["localFolder"] = Str(pg.LocalFolder);
              o["fileName"] = Str(pg.FileName);
              o["ftpFolder"] = Str(pg.FtpFolder);
              o["copyToFtp"] = pg.CopyToFtp;
              o["values"] = VarsJson(pg.Values);
              a.push_back(std::move(o));
            }
          node["pages"] = std::move(a);
          break;
        }
        case kStructString:
          node["text"] = Str(props ? static_cast<TStringHolder*>(props)->Text : std::string());
          break;
        default:
          break;
      }
      nodes.push_back(std::move(node));
    } while (list.Next());
  }
  root["nodes"] = std::move(nodes);
  return root.dump(1) + "\n";
}

void ImportProjectJson(std::string_view text, Project& project) {
  Json root;
  try {
    root = Json::parse(text.begin(), text.end());
  } catch (const Json::parse_error& e) {
    // nlohmann's message reads "[json.exception.parse_error.101] parse error at line 1, column 5: …"
    std::string what = e.what();
    auto at = what.find("parse error");
    throw EJsonImportError(at == std::string::npos ? what : what.substr(at));
  }
  Place top(root, "");
  top.ExpectObject({"format", "nodes"});
  if (top.Has("format")) top.Field("format").Int32();
  if (!top.Has("nodes")) top.Fail("missing field \"nodes\"");
  Place nodes = top.Field("nodes");
  TDList& list = project.List();
  size_t n = nodes.ArraySize();
  for (size_t i = 0; i < n; ++i) {
    Place node = nodes.Item(i);
    if (!node.json().is_object()) node.Fail("expected an object");
    if (!node.Has("key")) node.Fail("missing field \"key\"");
    if (!node.Has("structure")) node.Fail("missing field \"structure\"");
    std::string key = node.Field("key").String();
    if (key.empty()) node.Field("key").Fail("a key must not be empty");
    if (key.find(list.Separator) != std::string::npos)
      node.Field("key").Fail(std::string("a key must not contain the level separator \"") + list.Separator +
                             "\": the project file could not hold it");
    int32_t structure = node.Field("structure").Int32();
    switch (structure) {
      case kStructVars: {
        node.ExpectObject({"key", "structure", "vars"});
        auto h = std::make_unique<TVarsHolder>();
        if (node.Has("vars")) h->Items = ReadVars(node.Field("vars"));
        list.Add(key, structure, h.release());
        break;
      }
      case kStructTemplates: {
        node.ExpectObject({"key", "structure", "templates"});
        auto h = std::make_unique<TTemplatesHolder>();
        if (node.Has("templates")) {
          Place a = node.Field("templates");
          for (size_t k = 0, m = a.ArraySize(); k < m; ++k) {
            Place t = a.Item(k);
            t.ExpectObject({"name", "text", "localVars"});
            TTemplate tt{t.OptString("name"), t.OptString("text"), {}};
            if (t.Has("localVars")) {
              Place lv = t.Field("localVars");
              for (size_t j = 0, c = lv.ArraySize(); j < c; ++j) tt.LocalVars.push_back(lv.Item(j).String());
            }
            h->Items.push_back(std::move(tt));
          }
        }
        list.Add(key, structure, h.release());
        break;
      }
      case kStructPages: {
        node.ExpectObject({"key", "structure", "pages"});
        auto h = std::make_unique<TPagesHolder>();
        if (node.Has("pages")) {
          Place a = node.Field("pages");
          for (size_t k = 0, m = a.ArraySize(); k < m; ++k) {
            Place p = a.Item(k);
            p.ExpectObject({"name", "template", "localFolder", "fileName", "ftpFolder", "copyToFtp", "values"});
            TPage pg;
            pg.Name = p.OptString("name");
            pg.Template = p.OptString("template");
            pg.LocalFolder = p.OptString("localFolder");
            pg.FileName = p.OptString("fileName");
            pg.FtpFolder = p.OptString("ftpFolder");
            pg.CopyToFtp = p.Has("copyToFtp") && p.Field("copyToFtp").Bool();
            if (p.Has("values")) pg.Values = ReadVars(p.Field("values"));
            h->Items.push_back(std::move(pg));
          }
        }
        list.Add(key, structure, h.release());
        break;
      }
      case kStructString: {
        node.ExpectObject({"key", "structure", "text"});
        list.Add(key, structure, new TStringHolder{node.OptString("text")});
        break;
      }
      default:
        node.ExpectObject({"key", "structure"});
        list.Add(key, structure, nullptr);
        break;
    }
  }
}

}  // namespace brindle
