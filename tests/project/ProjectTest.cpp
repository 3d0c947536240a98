#include "project/Project.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(Project, AccessorsCreateTheirNodeOnFirstUseOnly) {
  Project project;
  EXPECT_EQ(project.FindVars(), nullptr);
  EXPECT_EQ(project.FindPages(), nullptr);
  EXPECT_TRUE(project.List().Empty());  // Find-only lookups create nothing

  TVars& vars = project.GetVars();
  EXPECT_TRUE(vars.empty());
  vars.push_back({"Title", "Home"});
  EXPECT_EQ(&project.GetVars(), &vars);  // the same array, not a new one
  ASSERT_NE(project.FindVars(), nullptr);
  EXPECT_EQ(project.FindVars()->at(0).Value, "Home");

  int32_t s = 0;
  void* p = nullptr;
  project.GetTemps().push_back({"Main", "<b>%Title%</b>", {"Title"}});
  project.GetPages().push_back({});
  project.GetText("Head") = "<html>";
  ASSERT_TRUE(project.List().Find("Temps", s, p));
  EXPECT_EQ(s, kStructTemplates);
  ASSERT_TRUE(project.List().Find("Pages", s, p));
  EXPECT_EQ(s, kStructPages);
  EXPECT_EQ(static_cast<TPagesHolder*>(p)->Items.size(), 1u);
  ASSERT_TRUE(project.List().Find("Head", s, p));
  EXPECT_EQ(s, kStructString);
  EXPECT_EQ(*project.FindText("Head"), "<html>");
  EXPECT_EQ(project.FindText("Footer"), nullptr);

  project.Clear();
  EXPECT_TRUE(project.List().Empty());
  EXPECT_TRUE(project.GetVars().empty());
}

// A node under "Vars" that cannot hold variables (an unknown structure from
// a file, or a string) must never be handed out as an array.
TEST(Project, AccessorReplacesANodeOfTheWrongKind) {
  Project project;
  project.List().Add("Vars", 9, nullptr);
  EXPECT_TRUE(project.GetVars().empty());
  int32_t s = 0;
  void* p = nullptr;
  ASSERT_TRUE(project.List().Find("Vars", s, p));
  EXPECT_EQ(s, kStructVars);
  EXPECT_NE(p, nullptr);

  project.List().Add("Pages", kStructString, new TStringHolder{"text"});
  EXPECT_EQ(project.FindPages(), nullptr);
  project.GetPages().push_back({});
  EXPECT_EQ(project.FindPages()->size(), 1u);
}

TEST(Project, NodesAddedFromOutsideAreOwnedAndFreedByTheProject) {
  // Run under the sanitizer build this shows no leak and no double free.
  Project project;
  project.List().Add("Vars", kStructVars, new TVarsHolder{{{"a", "b"}}});
  project.List().Add("Temps", kStructTemplates, new TTemplatesHolder{{{"t", "x", {"l"}}}});
  project.List().Add("Pages", kStructPages, new TPagesHolder{{{"p", "t", "", "", "", true, {}}}});
  project.List().Add("Footer", kStructString, new TStringHolder{"f"});
  project.List().Add("Other", 77, nullptr);
  project.List().Add("Vars", kStructVars, new TVarsHolder{});  // replaces
  EXPECT_TRUE(project.GetVars().empty());
  project.List().Delete("Temps");
  EXPECT_EQ(project.FindTemps(), nullptr);
}

}  // namespace
}  // namespace brindle
