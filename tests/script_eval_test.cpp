// Evaluation of packed page scripts into picture addresses.
#include "script/script_eval.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/encoding.h"
#include "script/picture_list.h"
#include "script/script_host.h"
#include "support/dmzj_site.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;

// Page source of a picture list: var pages=["a\/b\/1.jpg",...];
std::string PicturesSource(const std::string& folder, int count) {
  std::string source = "var pages=[";
  for (int k = 1; k <= count; ++k) {
    source += (k > 1 ? ",\"" : "\"") + folder + "\\/" + std::to_string(k) + ".jpg\"";
  }
  return source + "];";
}

std::string ToAnsi(const std::string& utf8) {
  std::string ansi;
  CodeConverter().Utf8ToAnsi(ansi, utf8.data(), static_cast<int>(utf8.size()));
  return ansi;
}

using List = std::list<std::u16string>;

// One evaluation with the test's picture host.
int Eval(const char* script, List& list, std::chrono::milliseconds timeout = kScriptTimeout,
         const Cancellation* cancel = nullptr) {
  ScriptOptions options;
  options.pictureHost = u"http://pictures.test/";
  options.timeout = timeout;
  options.cancel = cancel;
  return EvalPictureList(script, list, options);
}

class ScriptEvalTest : public ::testing::Test {
 protected:
  static List Entries(std::initializer_list<const char16_t*> paths) {
    List list;
    for (const char16_t* path : paths)
      list.push_back(std::u16string(u"http://pictures.test/") + path);
    return list;
  }
};

// Evaluation needs no application object in the calling program.
TEST(ScriptEvalWithoutApplicationTest, EvaluatesWithoutOne) {
  List list{u"kept"};
  EXPECT_EQ(Eval("'\"a\"'", list), 1);
  EXPECT_EQ(list, (List{u"kept", u"http://pictures.test/a"}));
}

TEST_F(ScriptEvalTest, PackedScriptGivesThePathsInOrder) {
  const std::string packed = PackedExpression(R"(var pages=["a\/b\/1.jpg","a\/b\/2.jpg"];)");
  ASSERT_NE(packed.find("function(p,a,c,k,e,d)"), std::string::npos);
  List list;
  EXPECT_EQ(Eval(packed.c_str(), list), 1);
  EXPECT_EQ(list, Entries({u"a/b/1.jpg", u"a/b/2.jpg"}));

  // As the page line has it, with the statement's semicolon; and the quoted-array form.
  list.clear();
  EXPECT_EQ(
      Eval((PackedExpression(R"(var pages=pages='["x\/1.png","x\/2.png"]';)") + ";").c_str(), list),
      1);
  EXPECT_EQ(list, Entries({u"x/1.png", u"x/2.png"}));
}

TEST_F(ScriptEvalTest, ChinesePathsPassThroughTheCodePage) {
  const std::string packed = PackedExpression(
      "var pages=[\"\xE7\xAC\xAC"
      "1\xE8\xAF\x9D\\/001.jpg\",\"\xE7\xAC\xAC"
      "1\xE8\xAF\x9D\\/002.jpg\"];");
  List list;
  EXPECT_EQ(Eval(ToAnsi(packed).c_str(), list), 1);
  EXPECT_EQ(list, Entries({u"第1话/001.jpg", u"第1话/002.jpg"}));
}

TEST_F(ScriptEvalTest, LongScriptIsEvaluatedWhole) {
  const std::string packed = PackedExpression(PicturesSource("comic\\/long_chapter_name", 400));
  ASSERT_GT(packed.size(), 2 * 2048u);  // well past the address capacity
  List list;
  ASSERT_EQ(Eval(packed.c_str(), list), 1);
  ASSERT_EQ(list.size(), 400u);
  EXPECT_EQ(list.front(), u"http://pictures.test/comic/long_chapter_name/1.jpg");
  EXPECT_EQ(list.back(), u"http://pictures.test/comic/long_chapter_name/400.jpg");
}

TEST_F(ScriptEvalTest, QuotedTextIsCutSplitAndCleaned) {
  List list;
  // Empty pieces, in the middle and at the end, become the prefix alone.
  EXPECT_EQ(Eval(R"('var p=["1.jpg",,"2.jpg",];')", list), 1);
  EXPECT_EQ(list, Entries({u"1.jpg", u"", u"2.jpg"}));
  list.clear();
  EXPECT_EQ(Eval(R"('x = "a,b,";')", list), 1);
  EXPECT_EQ(list, Entries({u"a", u"b", u""}));
  // Every backslash and quote goes, wherever it stands; text outside the quotes never
  // reaches an entry; pieces are not trimmed.
  list.clear();
  EXPECT_EQ(Eval(R"('pre["a\\q\\\\b", " c\\/d" ]post;')", list), 1);
  EXPECT_EQ(list, Entries({u"aqb", u"  c/d"}));
}

TEST_F(ScriptEvalTest, OneQuoteAppendsThePrefixAlone) {
  List list;
  EXPECT_EQ(Eval(R"('ab"cd')", list), 1);
  EXPECT_EQ(list, Entries({u""}));
}

TEST_F(ScriptEvalTest, ValuesWithoutQuotedTextLeaveTheListAlone) {
  const List before{u"kept1", u"kept2"};
  for (const char* script : {"'no quote here'", "''", "42", "var x = '\"a\"'", "undefined", "null",
                             "({toString: function() { return '\"a\"'; }})", "['\"a\"']"}) {
    List list = before;
    EXPECT_EQ(Eval(script, list), 0) << script;
    EXPECT_EQ(list, before) << script;
  }
  List list = before;
  EXPECT_EQ(Eval(nullptr, list), 0);
  EXPECT_EQ(list, before);
}

TEST_F(ScriptEvalTest, ScriptErrorsLeaveTheListAlone) {
  const List before{u"kept"};
  for (const char* script :
       {"var pages = [\"a\",", "undefinedName + '\"a\"'", "throw '\"a\",\"b\"'",
        "(function() { throw new Error('\"a\"'); })()", "\x80\x80(", "f(){"}) {
    List list = before;
    EXPECT_EQ(Eval(script, list), 0) << script;
    EXPECT_EQ(list, before) << script;
  }
}

TEST_F(ScriptEvalTest, EngineHasNoExtensions) {
  List list;
  ASSERT_EQ(Eval("'\"' + [typeof console, typeof print, typeof Qt, typeof XMLHttpRequest, "
                 "typeof require, typeof qsTr, typeof setTimeout].join(',') + '\"'",
                 list),
            1);
  ASSERT_EQ(list.size(), 7u);
  for (const auto& entry : list) EXPECT_EQ(entry, u"http://pictures.test/undefined");
}

TEST_F(ScriptEvalTest, EndlessScriptIsStoppedByTheTimeout) {
  const List before{u"kept"};
  List list = before;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      Eval("(function() { var s = '\"a\"'; for (;;) { s = s + ''; } return s; })()", list, 200ms),
      0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 150ms);
  EXPECT_LT(elapsed, 3s);
  EXPECT_EQ(list, before);

  // Endless recursion is a script error.
  EXPECT_EQ(Eval("(function f() { return f() + '\"a\"'; })()", list, 5s), 0);
  EXPECT_EQ(list, before);

  // The next evaluation on the same thread is not affected.
  EXPECT_EQ(Eval("'\"ok\"'", list, 5s), 1);
  EXPECT_EQ(list.back(), u"http://pictures.test/ok");
}

TEST_F(ScriptEvalTest, ClosingStopsAnEvaluationWithoutWaitingForTheTimeout) {
  List list{u"kept"};
  std::atomic<int> result{-1};
  const auto start = std::chrono::steady_clock::now();
  Cancellation closing;
  std::thread worker([&] {
    result =
        Eval("(function() { var s = '\"a\"'; for (;;) { s = s + ''; } })()", list, 30s, &closing);
  });
  std::this_thread::sleep_for(100ms);
  closing.Cancel();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(list, List{u"kept"});
}

TEST_F(ScriptEvalTest, EntriesAlreadyInTheListStayInFront) {
  List list{u"old1", u"old2"};
  EXPECT_EQ(Eval(PackedExpression(R"(var pages=["n\/1.jpg","n\/2.jpg"];)").c_str(), list), 1);
  List expected{u"old1", u"old2"};
  expected.splice(expected.end(), Entries({u"n/1.jpg", u"n/2.jpg"}));
  EXPECT_EQ(list, expected);
}

TEST_F(ScriptEvalTest, TwoThreadsEvaluateAtOnce) {
  const std::string first = PackedExpression(PicturesSource("first", 60));
  const std::string second = PackedExpression(PicturesSource("second", 40));
  List firstList, secondList;
  int firstResult = 0, secondResult = 0, timedOut = -1;
  List spinList{u"kept"};
  std::thread a([&] {
    for (int round = 0; round < 3; ++round) firstResult += Eval(first.c_str(), firstList);
  });
  std::thread b([&] {
    for (int round = 0; round < 3; ++round) secondResult += Eval(second.c_str(), secondList);
  });
  std::thread c([&] {
    // A compiled hot loop is interrupted too; endless recursion ends in a script error.
    timedOut = Eval(
                   "function f(n) { for (var i = 0; i < n; i++) {} } for (var j = 0; j < 50; j++) "
                   "f(100); f(Infinity)",
                   spinList, 300ms) +
               Eval("(function f() { return f() + '\"a\"'; })()", spinList, 5s);
  });
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(firstResult, 3);
  EXPECT_EQ(secondResult, 3);
  EXPECT_EQ(timedOut, 0);
  EXPECT_EQ(spinList, List{u"kept"});
  ASSERT_EQ(firstList.size(), 180u);
  ASSERT_EQ(secondList.size(), 120u);
  EXPECT_EQ(firstList.front(), u"http://pictures.test/first/1.jpg");
  EXPECT_EQ(firstList.back(), u"http://pictures.test/first/60.jpg");
  EXPECT_EQ(secondList.back(), u"http://pictures.test/second/40.jpg");
}

TEST_F(ScriptEvalTest, PictureListsAreCapped) {
  // 10,000 pieces still make a chapter; one more is refused whole.
  List list{u"kept"};
  EXPECT_EQ(Eval("'\"' + ','.repeat(9999) + '\"'", list), 1);
  EXPECT_EQ(list.size(), 10001u);
  EXPECT_EQ(list.back(), u"http://pictures.test/");
  list = {u"kept"};
  EXPECT_EQ(Eval("'\"' + ','.repeat(10000) + '\"'", list), 0);
  EXPECT_EQ(list, List{u"kept"});
  // 32 bytes of script for ten million entries: refused before any entry is made.
  EXPECT_EQ(Eval("'\"'+','.repeat(1e7)+'\"'", list), 0);
  EXPECT_EQ(list, List{u"kept"});

  EXPECT_EQ(AppendPictureList(u"[\"a\",\"b\",\"c\"]", u"p/", list, 3),
            PictureListResult::kAppended);
  EXPECT_EQ(list, (List{u"kept", u"p/a", u"p/b", u"p/c"}));
  EXPECT_EQ(AppendPictureList(u"\"a,b,c\"", u"p/", list, 2), PictureListResult::kTooMany);
  EXPECT_EQ(AppendPictureList(u"a,b", u"p/", list, 2), PictureListResult::kNoQuote);
  EXPECT_EQ(list.size(), 4u);
}

TEST_F(ScriptEvalTest, ChaptersShareOneHostThatSurvivesHostileScripts) {
  ScriptHost host(PAGELOOM_SCRIPT_HELPER);
  ScriptOptions options;
  options.pictureHost = u"P/";
  options.timeout = 2s;
  options.host = &host;
  const std::string chapter = PackedExpression(PicturesSource("c", 5));
  for (const char* hostile :
       {"(function f() { try { f(); } catch (e) { f(); } })()",
        "'x'.repeat(1 << 25).split('').join(',')", "'\"' + 'a'.repeat(3e6) + '\"'"}) {
    List list{u"kept"};
    EXPECT_EQ(EvalPictureList(hostile, list, options), 0) << hostile;
    EXPECT_EQ(list, List{u"kept"}) << hostile;
    EXPECT_EQ(EvalPictureList(chapter.c_str(), list, options), 1) << "after " << hostile;
    EXPECT_EQ(list.size(), 6u);
  }

  // A call of its own starts the helper it is given, or fails without one.
  options.host = nullptr;
  options.helperPath = PAGELOOM_SCRIPT_HELPER;
  List list;
  EXPECT_EQ(EvalPictureList(chapter.c_str(), list, options), 1);
  options.helperPath = "/nonexistent/pageloom-script";
  EXPECT_EQ(EvalPictureList(chapter.c_str(), list, options), 0);
  EXPECT_EQ(list.size(), 5u);
}

}  // namespace
}  // namespace pageloom::test
