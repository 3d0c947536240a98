#include "project/DList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace brindle {
namespace {

// Records every disposal and hands out distinct properties pointers.
struct DisposeLog {
  std::vector<std::pair<int32_t, void*>> calls;
  void Bind(TDList& list) {
    list.OnDisposeStructure = [this](TDList&, int32_t s, void* p) { calls.emplace_back(s, p); };
  }
};

void* P(int n) { return reinterpret_cast<void*>(static_cast<intptr_t>(n) * 16); }

std::vector<std::string> Enumerate(TDList& list) {
  std::vector<std::string> keys;
  if (list.First()) {
    do {
      std::string k;
      EXPECT_TRUE(list.CurrentKey(k));
      keys.push_back(k);
    } while (list.Next());
  }
  return keys;
}

TEST(DList, PrefixesAreNotKeysUntilAdded) {
  DisposeLog log;  // outlives the list, whose destructor disposes
  TDList list;
  log.Bind(list);
  list.Add("Pages", 3, P(1));
  int32_t s = 77;
  void* p = P(99);
  EXPECT_FALSE(list.Find("Pag", s, p));
  EXPECT_EQ(s, 77);  // untouched on failure
  EXPECT_EQ(p, P(99));
  EXPECT_FALSE(list.Find("", s, p));
  EXPECT_FALSE(list.Find("PagesX", s, p));
  EXPECT_FALSE(list.Find("pages", s, p));  // keys compare exactly

  list.Add("Pag", 9, P(2));
  ASSERT_TRUE(list.Find("Pag", s, p));
  EXPECT_EQ(s, 9);
  EXPECT_EQ(p, P(2));
  ASSERT_TRUE(list.Find("Pages", s, p));
  EXPECT_EQ(s, 3);
  EXPECT_EQ(p, P(1));
  EXPECT_TRUE(log.calls.empty());
}

TEST(DList, ReplacingDisposesTheOldPropertiesOnce) {
  DisposeLog log;  // outlives the list, whose destructor disposes
  TDList list;
  log.Bind(list);
  list.Add("Vars", 1, P(1));
  list.Add("Vars", 2, P(2));
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0], std::make_pair(int32_t{1}, P(1)));
  int32_t s;
  void* p;
  ASSERT_TRUE(list.Find("Vars", s, p));
  EXPECT_EQ(s, 2);
  EXPECT_EQ(p, P(2));
  // Null properties are never handed to the handler.
  list.Add("Head", 4, nullptr);
  list.Add("Head", 4, P(3));
  EXPECT_EQ(log.calls.size(), 1u);
  // An empty key is ignored and its properties are not taken over.
  list.Add("", 1, P(4));
  list.Clear();
  EXPECT_EQ(log.calls.size(), 3u);
  for (auto& c : log.calls) EXPECT_NE(c.second, P(4));
}

TEST(DList, DeleteDisposesAndReleasesEmptyTables) {
  DisposeLog log;  // outlives the list, whose destructor disposes
  TDList list;
  log.Bind(list);
  list.Delete("nothing");
  list.Delete("");
  EXPECT_TRUE(log.calls.empty());

  list.Add("ab", 1, P(1));
  list.Delete("a");  // a prefix only: nothing to dispose
  EXPECT_TRUE(log.calls.empty());
  list.Delete("ab");
  ASSERT_EQ(log.calls.size(), 1u);
  int32_t s;
  void* p;
  EXPECT_FALSE(list.Find("a", s, p));
  EXPECT_FALSE(list.Find("ab", s, p));
  EXPECT_TRUE(Enumerate(list).empty());

  list.Add("a", 1, P(2));
  list.Add("ab", 2, P(3));
  list.Delete("ab");
  ASSERT_TRUE(list.Find("a", s, p));
  EXPECT_EQ(p, P(2));
  EXPECT_EQ(Enumerate(list), std::vector<std::string>{"a"});
}

TEST(DList, LeftoverNodeIsAbsentEverywhereAndReused) {
  TDList list;
  list.Add("abc", 1, P(1));
  list.Add("x", 1, P(2));
  list.Delete("abc");  // "ab" stays behind as an unassigned leaf
  int32_t s;
  void* p;
  EXPECT_FALSE(list.Find("ab", s, p));
  EXPECT_EQ(Enumerate(list), std::vector<std::string>{"x"});

  TTracer tr(list);
  bool assigned = true;
  EXPECT_TRUE(tr.Step('a', assigned, s, p));
  EXPECT_FALSE(assigned);
  EXPECT_FALSE(tr.Step('b', assigned, s, p));

  list.Add("abd", 5, P(3));
  ASSERT_TRUE(list.Find("abd", s, p));
  EXPECT_EQ(s, 5);
  list.Add("ab", 6, P(4));
  EXPECT_EQ(Enumerate(list), (std::vector<std::string>{"ab", "abd", "x"}));
  list.Delete("abd");
  list.Delete("ab");
  list.Delete("x");
  EXPECT_TRUE(Enumerate(list).empty());
}

TEST(DList, EnumerationOrderIsUnsignedBytewise) {
  TDList list;
  for (const char* k : {"Vars", "Temps", "Head", "Pages", "Footer"}) list.Add(k, 1, nullptr);
  EXPECT_EQ(Enumerate(list),
            (std::vector<std::string>{"Footer", "Head", "Pages", "Temps", "Vars"}));

  TDList order;
  for (const char* k : {"ab", "a", "B", "\xff", "\x01", "b"}) order.Add(k, 1, nullptr);
  EXPECT_EQ(Enumerate(order), (std::vector<std::string>{"\x01", "B", "a", "ab", "b", "\xff"}));

  TDList zero;
  zero.Add(std::string("\0", 1), 1, nullptr);  // slot 0 of the root table
  zero.Add(std::string("\0\0", 2), 1, nullptr);
  EXPECT_EQ(Enumerate(zero), (std::vector<std::string>{std::string("\0", 1), std::string("\0\0", 2)}));
}

TEST(DList, DefaultScopeSkipsKeysWithTheSeparator) {
  TDList list;
  list.Add("Vars", 1, nullptr);
  list.Add("Pages", 3, nullptr);
  list.Add("A_B", 1, nullptr);
  list.Add("_", 1, nullptr);
  list.Add("Z_", 1, nullptr);
  EXPECT_EQ(Enumerate(list), (std::vector<std::string>{"Pages", "Vars"}));
}

TEST(DList, ScopeSelectsRootPathAndLevels) {
  TDList list;
  for (const char* k : {"a", "a_x", "a_x_y", "a_y", "a__", "ab", "b_z"}) list.Add(k, 1, nullptr);
  list.SetScope("a", 1, 1);
  // Below "a": relative keys with exactly one separator.
  EXPECT_EQ(Enumerate(list), (std::vector<std::string>{"a_x", "a_y"}));
  list.SetScope("a", 0, 2);
  EXPECT_EQ(Enumerate(list), (std::vector<std::string>{"a__", "a_x", "a_x_y", "a_y", "ab"}));
  list.SetScope("a_", 0, 0);
  EXPECT_EQ(Enumerate(list), (std::vector<std::string>{"a_x", "a_y"}));
  list.SetScope("q", 0, 5);
  EXPECT_FALSE(list.First());
  list.SetScope("", 2, 1);
  EXPECT_FALSE(list.First());

  TDList nul;
  nul.Separator = '\0';
  nul.Add("a_b", 1, nullptr);
  nul.Add(std::string("a\0b", 3), 1, nullptr);
  EXPECT_EQ(Enumerate(nul), std::vector<std::string>{"a_b"});
}

TEST(DList, CursorReadsAndFalseResults) {
  TDList list;
  std::string k;
  int32_t s;
  void* p;
  EXPECT_FALSE(list.CurrentKey(k));
  EXPECT_FALSE(list.CurrentStructure(s));
  EXPECT_FALSE(list.First());
  EXPECT_FALSE(list.Next());
  list.Add("k", 42, P(7));
  ASSERT_TRUE(list.First());
  ASSERT_TRUE(list.CurrentStructure(s));
  ASSERT_TRUE(list.CurrentProperties(p));
  EXPECT_EQ(s, 42);
  EXPECT_EQ(p, P(7));
  EXPECT_FALSE(list.Next());
  EXPECT_FALSE(list.Next());
  list.SetScope("", 0, 0);
  EXPECT_FALSE(list.CurrentKey(k));  // SetScope drops the cursor
  list.Delete("k");                 // releasing the table drops it too
  EXPECT_FALSE(list.CurrentKey(k));
}

TEST(DList, ClearDisposesDepthFirstAndEmptiesTheList) {
  DisposeLog log;  // outlives the list, whose destructor disposes
  TDList list;
  log.Bind(list);
  list.Clear();
  EXPECT_TRUE(log.calls.empty());
  list.Add("a", 1, P(1));
  list.Add("ab", 2, P(2));
  list.Add("b", 3, P(3));
  list.Add("aa", 4, nullptr);
  list.Clear();
  ASSERT_EQ(log.calls.size(), 3u);
  EXPECT_EQ(log.calls[0].second, P(2));
  EXPECT_EQ(log.calls[1].second, P(1));
  EXPECT_EQ(log.calls[2].second, P(3));
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(Enumerate(list).empty());
  list.Add("a", 1, P(4));  // usable again
  EXPECT_EQ(Enumerate(list), std::vector<std::string>{"a"});
}

TEST(DList, DestructionDisposesEveryPropertiesOnce) {
  DisposeLog log;
  {
    TDList list;
    log.Bind(list);
    list.Add("x", 1, P(1));
    list.Add("xy", 1, P(2));
    list.Add("x", 1, P(3));
    list.Delete("xy");
    list.Add("z", 1, P(4));
  }
  std::vector<void*> seen;
  for (auto& c : log.calls) seen.push_back(c.second);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<void*>{P(1), P(2), P(3), P(4)}));
}

TEST(DList, FailingDisposeHandlerStillCompletesTheChange) {
  TDList list;
  int disposed = 0;
  list.OnDisposeStructure = [&](TDList&, int32_t, void*) {
    ++disposed;
    throw std::runtime_error("dispose failed");
  };
  list.Add("a", 1, P(1));
  EXPECT_THROW(list.Add("a", 2, P(2)), std::runtime_error);
  int32_t s;
  void* p;
  ASSERT_TRUE(list.Find("a", s, p));
  EXPECT_EQ(p, P(2));
  EXPECT_THROW(list.Delete("a"), std::runtime_error);
  EXPECT_FALSE(list.Find("a", s, p));
  EXPECT_TRUE(list.Empty());
  list.Add("b", 1, P(3));
  list.Add("c", 1, P(4));
  EXPECT_THROW(list.Clear(), std::runtime_error);
  EXPECT_TRUE(list.Empty());  // both nodes went, each disposed once
  EXPECT_EQ(disposed, 4);
  list.Add("d", 1, P(5));
  // The destructor swallows the handler's error.
}

TEST(DList, FilterSkipsNodesAndSeesFullKeys) {
  TDList list;
  for (const char* k : {"a", "b", "c"}) list.Add(k, k[0], nullptr);
  std::vector<std::string> offered;
  list.OnFilter = [&](TDList&, const std::string& key, int32_t structure, int32_t mode, void*,
                      bool& enabled) {
    offered.push_back(key);
    EXPECT_EQ(mode, -1);
    EXPECT_EQ(structure, key[0]);
    enabled = key != "b";
  };
  EXPECT_EQ(Enumerate(list), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(offered, (std::vector<std::string>{"a", "b", "c"}));
  list.OnFilter = [](TDList&, const std::string&, int32_t, int32_t, void*, bool& enabled) {
    enabled = false;
  };
  EXPECT_FALSE(list.First());
}

TEST(DList, TracerWalksKeysByteByByte) {
  TDList list;
  list.Add("Pages", 3, P(1));
  list.Add("Pa", 7, P(2));
  list.Add("Q", 8, P(3));
  TTracer tr(list);
  bool assigned = true;
  int32_t s = -1;
  void* p = nullptr;
  ASSERT_TRUE(tr.Step('P', assigned, s, p));
  EXPECT_FALSE(assigned);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(p, nullptr);  // only set for assigned nodes
  ASSERT_TRUE(tr.Step('a', assigned, s, p));
  EXPECT_TRUE(assigned);
  EXPECT_EQ(s, 7);
  EXPECT_EQ(p, P(2));
  TTracerPosition afterPa;
  tr.GetPosition(afterPa);
  EXPECT_FALSE(tr.Step('x', assigned, s, p));
  EXPECT_TRUE(assigned);  // a failed step leaves everything as it was
  EXPECT_EQ(s, 7);
  ASSERT_TRUE(tr.Step('g', assigned, s, p));
  EXPECT_FALSE(assigned);
  EXPECT_EQ(p, P(2));
  tr.SetPosition(afterPa);
  EXPECT_TRUE(tr.Step('g', assigned, s, p));
  tr.Step('e', assigned, s, p);
  ASSERT_TRUE(tr.Step('s', assigned, s, p));
  EXPECT_TRUE(assigned);
  EXPECT_EQ(p, P(1));
  EXPECT_FALSE(tr.Step('s', assigned, s, p));  // past the end of every key

  tr.SetPath("Pag");
  ASSERT_TRUE(tr.Step('e', assigned, s, p));
  EXPECT_FALSE(assigned);
  tr.SetPath("");
  ASSERT_TRUE(tr.Step('Q', assigned, s, p));
  EXPECT_EQ(s, 8);
  tr.SetPath("nowhere");  // no position: back before the root table
  ASSERT_TRUE(tr.Step('Q', assigned, s, p));

  TDList empty;
  TTracer none(empty);
  EXPECT_FALSE(none.Step('a', assigned, s, p));
}

// A model of the list with std::map: same keys, finds and enumeration
// order, under random adds, deletes and scopes.
TEST(DList, BehavesLikeAnOrderedMapUnderRandomEdits) {
  std::mt19937 rng(20240611);
  const std::string alphabet = "ab_\xff";
  auto randomKey = [&] {
    std::string k;
    int len = static_cast<int>(rng() % 4);
    for (int i = 0; i < len; ++i) k.push_back(alphabet[rng() % alphabet.size()]);
    return k;
  };
  auto levelOf = [](const std::string& rel) {
    return static_cast<int32_t>(std::count(rel.begin(), rel.end(), '_'));
  };
  for (int round = 0; round < 40; ++round) {
    TDList list;
    std::map<std::string, std::pair<int32_t, void*>> model;
    std::map<void*, int> live;
    list.OnDisposeStructure = [&](TDList&, int32_t, void* p) {
      ASSERT_EQ(live.count(p), 1u) << "disposed twice or never added";
      live.erase(p);
    };
    int serial = 1;
    for (int op = 0; op < 200; ++op) {
      std::string k = randomKey();
      if (rng() % 3) {
        void* p = P(serial++);
        list.Add(k, static_cast<int32_t>(op), p);
        if (!k.empty()) {
          live[p] = 1;
          model[k] = {op, p};
        }
      } else {
        list.Delete(k);
        model.erase(k);
      }
      std::string probe = randomKey();
      int32_t s;
      void* p;
      bool found = list.Find(probe, s, p);
      auto it = model.find(probe);
      ASSERT_EQ(found, it != model.end()) << probe;
      if (found) {
        EXPECT_EQ(s, it->second.first);
      }
    }
    std::string root = randomKey().substr(0, 1);
    int32_t minL = static_cast<int32_t>(rng() % 3) - 1, maxL = static_cast<int32_t>(rng() % 3);
    list.SetScope(root, minL, maxL);
    std::vector<std::string> expected;
    for (auto& [key, v] : model) {
      if (key.size() <= root.size() || key.compare(0, root.size(), root) != 0) continue;
      int32_t level = levelOf(key.substr(root.size()));
      if (level >= minL && level <= maxL) expected.push_back(key);
    }
    ASSERT_EQ(Enumerate(list), expected) << "root '" << root << "' " << minL << ".." << maxL;
    EXPECT_EQ(live.size(), model.size());
    list.Clear();
    EXPECT_TRUE(live.empty());
  }
}

}  // namespace
}  // namespace brindle

namespace brindle {
namespace {

// The list's own frame with handlers of the test's making: the header event
// sits right after the format value, a node with an empty key gives its
// properties back, and a handler that meets damage still has its node added.
TEST(DListFile, FrameEventsAndDamageInsideAHandler) {
  std::vector<int> disposed;
  TDList list;
  list.OnDisposeStructure = [&](TDList&, int32_t, void* p) {
    disposed.push_back(*static_cast<int*>(p));
    delete static_cast<int*>(p);
  };
  list.OnFileHeader = [](TDList&, ByteSink* sink, ByteSource* source, THeaderAction action,
                         int32_t format, int32_t initPos) {
    EXPECT_EQ(initPos, 4);
    EXPECT_EQ(format, 2);
    if (action == haWrite) {
      ASSERT_NE(sink, nullptr);
      EXPECT_EQ(sink->Position(), 4u);
      sink->WriteInt32(0x55);
    } else {
      ASSERT_NE(source, nullptr);
      EXPECT_EQ(source->ReadInt32("the header"), 0x55);
    }
  };
  list.OnSaveStructure = [](TDList&, int32_t, void* p, ByteSink& h, int32_t) {
    h.WriteInt32(*static_cast<int*>(p));
  };
  list.OnLoadStructure = [](TDList&, int32_t, void*& p, ByteSource& h, int32_t) {
    p = new int(-1);  // stored before reading, as the contract asks
    *static_cast<int*>(p) = h.ReadInt32("a number");
  };
  list.Add("a", 1, new int(10));
  list.Add("b", 1, new int(20));
  std::string bytes = list.SaveToBytes(2);
  EXPECT_EQ(bytes.size(), 4u + 4 + 2 * (4 + 1 + 4 + 4));

  TDList loaded;
  loaded.OnDisposeStructure = list.OnDisposeStructure;
  loaded.OnFileHeader = list.OnFileHeader;
  loaded.OnLoadStructure = list.OnLoadStructure;
  // Cut inside the second number; add a node with an empty key first.
  std::string empty = std::string("\0\0\0\0\1\0\0\0\x07\0\0\0", 12);
  std::string damaged = bytes.substr(0, 8) + empty + bytes.substr(8, 13 + 10);
  LoadResult r = loaded.LoadFromBytes(damaged, 2, "frame");
  EXPECT_EQ(r.Outcome, LoadOutcome::Damaged);
  EXPECT_EQ(r.Message, "File \"frame\" is damaged at byte 42: the data ends inside a number.");
  EXPECT_EQ(disposed, std::vector<int>{7});  // the empty key's properties
  int32_t s;
  void* p;
  ASSERT_TRUE(loaded.Find("a", s, p));
  EXPECT_EQ(*static_cast<int*>(p), 10);
  ASSERT_TRUE(loaded.Find("b", s, p));  // added with what its handler had
  EXPECT_EQ(*static_cast<int*>(p), -1);

  EXPECT_EQ(loaded.LoadFromBytes(bytes.substr(0, 4), 1, "new").Outcome, LoadOutcome::FormatTooNew);
}

}  // namespace
}  // namespace brindle
