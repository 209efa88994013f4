#include "monitoring/html_stats.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A statistics object with values, sub-objects and collections by name.
// "self" names the object itself, so sections can nest without end.
struct Node : Stat::Object {
  std::map<std::string, std::string> values;
  std::map<std::string, const Node*> children;
  std::map<std::string, std::vector<const Node*>> collections;

  Stat::Value statistics_value(const std::string& name) const override {
    const auto v = values.find(name);
    return v == values.end() ? Stat::Value() : Stat::Value(v->second);
  }
  const Stat::Object* statistics_object(const std::string& name) const override {
    if (name == "self") return this;
    const auto c = children.find(name);
    return c == children.end() ? nullptr : c->second;
  }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override {
    const auto c = collections.find(name);
    if (c == collections.end()) return nullptr;
    return std::make_unique<Walk>(c->second);
  }

  struct Walk : Stat::IteratorBase {
    explicit Walk(const std::vector<const Node*>& e) : elements(e) {}
    bool valid() const override { return at < elements.size(); }
    bool next() override { return ++at < elements.size(); }
    const Stat::Object& object() const override { return *elements[at]; }
    const std::vector<const Node*>& elements;
    size_t at = 0;
  };
};

std::string Generate(const Stat::Object& root, const std::string& page) {
  std::istringstream in(page);
  std::ostringstream out;
  EXPECT_TRUE(Stat::Html::generateV1(root, out, in));
  return out.str();
}

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

class HtmlStats : public ::testing::Test {
protected:
  void SetUp() override {
    a.values = {{"name", "a"}};
    b.values = {{"name", "b"}, {"load", "inner"}};
    c.values = {{"name", "c"}};
    child.values = {{"name", "kid"}};
    root.values = {{"load", "7%"}, {"name", "root"}};
    root.children = {{"child", &child}, {"second", &b}};
    root.collections = {{"items", {&a, &b, &c}}, {"none", {}}};
  }
  Node a, b, c, child, root;
};

TEST_F(HtmlStats, TemplatesExpand) {
  const struct {
    const char* page;
    const char* out;
  } cases[] = {
      {"<html><!-- note --><p style=\"width:50%\">x</p><!--GENERATED--><br></html>\n",
       "<html><!-- note --><p style=\"width:50%\">x</p><!--GENERATED--><br></html>\n"},
      {"100%% <b>sure</b>", "100%% <b>sure</b>"},
      {"%load% %name% %unknown%!", "7% root %unknown%!"},
      {"<!--GEN.child-->%name%/%load%/%nothing%<!--GEN.end-->.", "kid/7%/%nothing%."},
      {"<!--GEN.second-->%load%<!--GEN.end-->", "inner"},
      {"<ul><!--GEN.items-->[%name%]<!--GEN.end--></ul>", "<ul>[a][b][c]</ul>"},
      {"<!--GEN.items--><!--GEN.self-->%name%<!--GEN.end-->;<!--GEN.end-->", "a;b;c;"},
      {"(<!--GEN.none-->[%name%]<!--GEN.end-->)", "()"},
      {"a<!--GEN.nope-->x%name%<!--GEN.child-->y<!--GEN.end-->z<!--GEN.end-->b", "ab"},
      {"a<!--GEN.items-->x", "axxx"},
      {"a<!--GEN.end-->b<!--GEN.child-->%name%<!--GEN.end-->", "a"},
      {"a<!--GEN.x--y-z-->%name%<!--GEN.end-->b", "ab"},
      {"tail %name", "tail "},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, Generate(root, c.page)) << c.page;
}

TEST_F(HtmlStats, SectionsNestAtMost64Deep) {
  // Level n shows n: the 65th level is dropped with its body.
  std::vector<Node> levels(66);
  for (size_t i = 0; i + 1 < levels.size(); ++i) {
    levels[i].values = {{"n", std::to_string(i)}};
    levels[i].children = {{"down", &levels[i + 1]}};
  }
  levels.back().values = {{"n", "65"}};
  const std::string page = Repeat("<!--GEN.down-->(%n%", 65) + Repeat(")<!--GEN.end-->", 65) + "!";
  std::string expected;
  for (int i = 1; i <= 64; ++i) expected += "(" + std::to_string(i);
  expected += Repeat(")", 64) + "!";
  EXPECT_EQ(expected, Generate(levels[0], page));
}

// A thread with 1 MiB of stack: a generator that recursed once per level of
// the page would overflow it.
std::string GenerateOnSmallStack(const Stat::Object& root, const std::string& page) {
  struct Job {
    const Stat::Object& root;
    const std::string& page;
    std::string out;
  } job{root, page, {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1 << 20);
  pthread_t thread;
  const int started = pthread_create(
      &thread, &attr,
      [](void* p) -> void* {
        Job& j = *static_cast<Job*>(p);
        std::istringstream in(j.page);
        std::ostringstream out;
        Stat::Html::generateV1(j.root, out, in);
        j.out = out.str();
        return nullptr;
      },
      &job);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(0, started);
  if (started == 0) pthread_join(thread, nullptr);
  return job.out;
}

TEST_F(HtmlStats, HundredThousandNestedSectionsKeepTheStack) {
  const int n = 100000;
  const std::string ends = Repeat("<!--GEN.end-->", n);
  // Known sections: 64 levels expand, the rest is skipped.
  EXPECT_EQ(Repeat("r", 64) + "!", GenerateOnSmallStack(root, Repeat("<!--GEN.self-->r", n) + ends + "!"));
  // Unknown ones: skipped from the first.
  EXPECT_EQ("[]!", GenerateOnSmallStack(root, "[" + Repeat("<!--GEN.nope-->%name%", n) + ends + "]!"));
}

}  // namespace
