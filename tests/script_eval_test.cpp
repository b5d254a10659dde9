// Evaluation of packed page scripts into picture addresses.
#include "text/script_eval.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tasks/sites.h"
#include "text/encoding.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;

// The unpacker's own base-62 numbering of the word list.
std::string Base62(std::size_t c) {
  const std::string prefix = c < 62 ? std::string() : Base62(c / 62);
  const std::size_t r = c % 62;
  const char digit = r > 35 ? static_cast<char>(r + 29)
                            : r < 10 ? static_cast<char>('0' + r) : static_cast<char>('a' + r - 10);
  return prefix + digit;
}

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Packs JavaScript source as such pages ship it: every word replaced by its base-62
// number in a '|'-separated word list (most frequent first), unpacked at run time by a
// function(p,a,c,k,e,d). The result is the expression that stands behind "eval".
std::string Pack(const std::string& source) {
  std::vector<std::string> words;
  std::map<std::string, int> counts;
  for (std::size_t i = 0; i < source.size();) {
    if (!IsWordChar(source[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < source.size() && IsWordChar(source[end])) ++end;
    const std::string word = source.substr(i, end - i);
    if (counts[word]++ == 0) words.push_back(word);
    i = end;
  }
  std::stable_sort(words.begin(), words.end(),
                   [&](const std::string& a, const std::string& b) { return counts[a] > counts[b]; });
  std::map<std::string, std::size_t> index;
  for (std::size_t k = 0; k < words.size(); ++k) index[words[k]] = k;

  std::string payload;
  for (std::size_t i = 0; i < source.size();) {
    if (IsWordChar(source[i])) {
      std::size_t end = i;
      while (end < source.size() && IsWordChar(source[end])) ++end;
      payload += Base62(index[source.substr(i, end - i)]);
      i = end;
      continue;
    }
    if (source[i] == '\\' || source[i] == '\'') payload += '\\';
    payload += source[i++];
  }
  std::string list;
  for (std::size_t k = 0; k < words.size(); ++k) list += (k ? "|" : "") + words[k];

  return R"JS((function(p,a,c,k,e,d){e=function(c){return(c<a?'':e(parseInt(c/a)))+((c=c%a)>35?String.fromCharCode(c+29):c.toString(36))};if(!''.replace(/^/,String)){while(c--){d[e(c)]=k[c]||e(c)}k=[function(e){return d[e]}];e=function(){return'\\w+'};c=1};while(c--){if(k[c]){p=p.replace(new RegExp('\\b'+e(c)+'\\b','g'),k[c])}}return p}(')JS" +
         payload + "',62," + std::to_string(words.size()) + ",'" + list + "'.split('|'),0,{}))";
}

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

// The engine needs an application object; it lives on the main thread for all tests.
std::unique_ptr<ScriptApplication> g_application;

class ScriptEvalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_application) g_application = std::make_unique<ScriptApplication>();
  }

  ScriptEvalTest()
      : m_sites(SiteNames{u"eh.test", u"lofi.", u"dmzj.test", "http://dmzj.test", u"http://pictures.test/"}) {}

  static List Entries(std::initializer_list<const char16_t*> paths) {
    List list;
    for (const char16_t* path : paths) list.push_back(std::u16string(u"http://pictures.test/") + path);
    return list;
  }

 private:
  ScopedSiteNames m_sites;
};

class ApplicationEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { g_application.reset(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

// First in the file: when the whole program runs, no other test has made the application
// object yet (and under CTest every test runs in its own process).
TEST(ScriptEvalWithoutApplicationTest, GivesNothingInsteadOfStopping) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "an application object exists";
  List list{u"kept"};
  EXPECT_EQ(EvalPictureList("'\"a\"'", list), 0);
  EXPECT_EQ(list, List{u"kept"});
}

TEST_F(ScriptEvalTest, PackedScriptGivesThePathsInOrder) {
  const std::string packed = Pack(R"(var pages=["a\/b\/1.jpg","a\/b\/2.jpg"];)");
  ASSERT_NE(packed.find("function(p,a,c,k,e,d)"), std::string::npos);
  List list;
  EXPECT_EQ(EvalPictureList(packed.c_str(), list), 1);
  EXPECT_EQ(list, Entries({u"a/b/1.jpg", u"a/b/2.jpg"}));

  // As the page line has it, with the statement's semicolon; and the quoted-array form.
  list.clear();
  EXPECT_EQ(EvalPictureList((Pack(R"(var pages=pages='["x\/1.png","x\/2.png"]';)") + ";").c_str(), list), 1);
  EXPECT_EQ(list, Entries({u"x/1.png", u"x/2.png"}));
}

TEST_F(ScriptEvalTest, ChinesePathsPassThroughTheCodePage) {
  const std::string packed = Pack("var pages=[\"\xE7\xAC\xAC" "1\xE8\xAF\x9D\\/001.jpg\",\"\xE7\xAC\xAC" "1\xE8\xAF\x9D\\/002.jpg\"];");
  List list;
  EXPECT_EQ(EvalPictureList(ToAnsi(packed).c_str(), list), 1);
  EXPECT_EQ(list, Entries({u"第1话/001.jpg", u"第1话/002.jpg"}));
}

TEST_F(ScriptEvalTest, LongScriptIsEvaluatedWhole) {
  const std::string packed = Pack(PicturesSource("comic\\/long_chapter_name", 400));
  ASSERT_GT(packed.size(), 2 * 2048u);  // well past the address capacity
  List list;
  ASSERT_EQ(EvalPictureList(packed.c_str(), list), 1);
  ASSERT_EQ(list.size(), 400u);
  EXPECT_EQ(list.front(), u"http://pictures.test/comic/long_chapter_name/1.jpg");
  EXPECT_EQ(list.back(), u"http://pictures.test/comic/long_chapter_name/400.jpg");
}

TEST_F(ScriptEvalTest, QuotedTextIsCutSplitAndCleaned) {
  List list;
  // Empty pieces, in the middle and at the end, become the prefix alone.
  EXPECT_EQ(EvalPictureList(R"('var p=["1.jpg",,"2.jpg",];')", list), 1);
  EXPECT_EQ(list, Entries({u"1.jpg", u"", u"2.jpg"}));
  list.clear();
  EXPECT_EQ(EvalPictureList(R"('x = "a,b,";')", list), 1);
  EXPECT_EQ(list, Entries({u"a", u"b", u""}));
  // Every backslash and quote goes, wherever it stands; text outside the quotes never
  // reaches an entry; pieces are not trimmed.
  list.clear();
  EXPECT_EQ(EvalPictureList(R"('pre["a\\q\\\\b", " c\\/d" ]post;')", list), 1);
  EXPECT_EQ(list, Entries({u"aqb", u"  c/d"}));
}

TEST_F(ScriptEvalTest, OneQuoteAppendsThePrefixAlone) {
  List list;
  EXPECT_EQ(EvalPictureList(R"('ab"cd')", list), 1);
  EXPECT_EQ(list, Entries({u""}));
}

TEST_F(ScriptEvalTest, ValuesWithoutQuotedTextLeaveTheListAlone) {
  const List before{u"kept1", u"kept2"};
  for (const char* script : {"'no quote here'", "''", "42", "var x = '\"a\"'", "undefined", "null",
                             "({toString: function() { return '\"a\"'; }})", "['\"a\"']"}) {
    List list = before;
    EXPECT_EQ(EvalPictureList(script, list), 0) << script;
    EXPECT_EQ(list, before) << script;
  }
  List list = before;
  EXPECT_EQ(EvalPictureList(nullptr, list), 0);
  EXPECT_EQ(list, before);
}

TEST_F(ScriptEvalTest, ScriptErrorsLeaveTheListAlone) {
  const List before{u"kept"};
  for (const char* script : {"var pages = [\"a\",", "undefinedName + '\"a\"'", "throw '\"a\",\"b\"'",
                             "(function() { throw new Error('\"a\"'); })()", "\x80\x80(", "f(){"}) {
    List list = before;
    EXPECT_EQ(EvalPictureList(script, list), 0) << script;
    EXPECT_EQ(list, before) << script;
  }
}

TEST_F(ScriptEvalTest, EngineHasNoExtensions) {
  List list;
  ASSERT_EQ(EvalPictureList("'\"' + [typeof console, typeof print, typeof Qt, typeof XMLHttpRequest, "
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
  EXPECT_EQ(EvalPictureList("(function() { var s = '\"a\"'; for (;;) { s = s + ''; } return s; })()", list, 200ms), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 150ms);
  EXPECT_LT(elapsed, 3s);
  EXPECT_EQ(list, before);

  // Endless recursion is a script error.
  EXPECT_EQ(EvalPictureList("(function f() { return f() + '\"a\"'; })()", list, 5s), 0);
  EXPECT_EQ(list, before);

  // The next evaluation on the same thread is not affected.
  EXPECT_EQ(EvalPictureList("'\"ok\"'", list, 200ms), 1);
  EXPECT_EQ(list.back(), u"http://pictures.test/ok");
}

TEST_F(ScriptEvalTest, EntriesAlreadyInTheListStayInFront) {
  List list{u"old1", u"old2"};
  EXPECT_EQ(EvalPictureList(Pack(R"(var pages=["n\/1.jpg","n\/2.jpg"];)").c_str(), list), 1);
  List expected{u"old1", u"old2"};
  expected.splice(expected.end(), Entries({u"n/1.jpg", u"n/2.jpg"}));
  EXPECT_EQ(list, expected);
}

TEST_F(ScriptEvalTest, TwoThreadsEvaluateAtOnce) {
  const std::string first = Pack(PicturesSource("first", 60));
  const std::string second = Pack(PicturesSource("second", 40));
  List firstList, secondList;
  int firstResult = 0, secondResult = 0, timedOut = -1;
  List spinList{u"kept"};
  std::thread a([&] {
    for (int round = 0; round < 3; ++round) firstResult += EvalPictureList(first.c_str(), firstList);
  });
  std::thread b([&] {
    for (int round = 0; round < 3; ++round) secondResult += EvalPictureList(second.c_str(), secondList);
  });
  std::thread c([&] {
    // A compiled hot loop is interrupted too; endless recursion ends in a script error.
    timedOut = EvalPictureList(
                   "function f(n) { for (var i = 0; i < n; i++) {} } for (var j = 0; j < 50; j++) f(100); f(Infinity)",
                   spinList, 300ms) +
               EvalPictureList("(function f() { return f() + '\"a\"'; })()", spinList, 5s);
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

}  // namespace
}  // namespace pageloom::test
