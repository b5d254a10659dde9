// Links resolved against the page they came from, and kept on the site's own host.
#include "engine/links.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace pageloom::test {
namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// The examples of RFC 3986, section 5.4, normal and abnormal.
TEST(LinksTest, ReferencesResolveAsTheStandardsExamplesSay) {
  const std::u16string base = u"http://a/b/c/d;p?q";
  const Pairs examples = {{u"g:h", u"g:h"},
                          {u"g", u"http://a/b/c/g"},
                          {u"./g", u"http://a/b/c/g"},
                          {u"g/", u"http://a/b/c/g/"},
                          {u"/g", u"http://a/g"},
                          {u"//g", u"http://g"},
                          {u"?y", u"http://a/b/c/d;p?y"},
                          {u"g?y", u"http://a/b/c/g?y"},
                          {u"#s", u"http://a/b/c/d;p?q#s"},
                          {u"g#s", u"http://a/b/c/g#s"},
                          {u"g?y#s", u"http://a/b/c/g?y#s"},
                          {u";x", u"http://a/b/c/;x"},
                          {u"g;x", u"http://a/b/c/g;x"},
                          {u"g;x?y#s", u"http://a/b/c/g;x?y#s"},
                          {u"", u"http://a/b/c/d;p?q"},
                          {u".", u"http://a/b/c/"},
                          {u"./", u"http://a/b/c/"},
                          {u"..", u"http://a/b/"},
                          {u"../", u"http://a/b/"},
                          {u"../g", u"http://a/b/g"},
                          {u"../..", u"http://a/"},
                          {u"../../", u"http://a/"},
                          {u"../../g", u"http://a/g"},
                          // abnormal
                          {u"../../../g", u"http://a/g"},
                          {u"../../../../g", u"http://a/g"},
                          {u"/./g", u"http://a/g"},
                          {u"/../g", u"http://a/g"},
                          {u"g.", u"http://a/b/c/g."},
                          {u".g", u"http://a/b/c/.g"},
                          {u"g..", u"http://a/b/c/g.."},
                          {u"..g", u"http://a/b/c/..g"},
                          {u"./../g", u"http://a/b/g"},
                          {u"./g/.", u"http://a/b/c/g/"},
                          {u"g/./h", u"http://a/b/c/g/h"},
                          {u"g/../h", u"http://a/b/c/h"},
                          {u"g;x=1/./y", u"http://a/b/c/g;x=1/y"},
                          {u"g;x=1/../y", u"http://a/b/c/y"},
                          {u"g?y/./x", u"http://a/b/c/g?y/./x"},
                          {u"g?y/../x", u"http://a/b/c/g?y/../x"},
                          {u"g#s/./x", u"http://a/b/c/g#s/./x"},
                          {u"g#s/../x", u"http://a/b/c/g#s/../x"},
                          {u"http:g", u"http:g"}};
  for (const auto& [reference, expected] : examples)
    EXPECT_EQ(ResolveReference(base, reference), expected) << Narrow(reference);
}

TEST(LinksTest, PageLinksStayOnTheSiteOrAreRefused) {
  const std::u16string root = u"https://manhua.dmzj.com";
  // A link that, glued to the root without a '/', would name another host.
  EXPECT_FALSE(StaysOnHost(root + u"@evil.example/x", root));
  const std::u16string resolved = ResolveReference(root, u"@evil.example/x");
  EXPECT_EQ(resolved, u"https://manhua.dmzj.com/@evil.example/x");
  EXPECT_TRUE(StaysOnHost(resolved, root));

  const std::u16string page = u"https://manhua.dmzj.com/comic/12/345.shtml";
  EXPECT_EQ(ResolveReference(page, u"346.shtml"), u"https://manhua.dmzj.com/comic/12/346.shtml");
  EXPECT_EQ(ResolveReference(page, u"  /comic/12/347.shtml\n"),
            u"https://manhua.dmzj.com/comic/12/347.shtml");
  EXPECT_EQ(ResolveReference(page, u"//evil.example/x"), u"https://evil.example/x");
  EXPECT_FALSE(StaysOnHost(ResolveReference(page, u"//evil.example/x"), page));
  EXPECT_FALSE(StaysOnHost(ResolveReference(page, u"javascript:alert(1)"), page));
  EXPECT_FALSE(StaysOnHost(ResolveReference(page, u"//manhua.dmzj.com@evil.example/"), page));
  EXPECT_TRUE(StaysOnHost(ResolveReference(page, u"HTTPS://MANHUA.DMZJ.COM:443/c/1.shtml"), page));
  EXPECT_EQ(ResolveReference(page, u"第2话.shtml"),
            u"https://manhua.dmzj.com/comic/12/第2话.shtml");

  // Refused: no base scheme, control characters or backslashes inside, and results
  // that would read differently once written out.
  for (const auto& [base, reference] : Pairs{{u"/relative/base", u"x"},
                                             {u"", u"x"},
                                             {page, u"a\nb"},
                                             {page, std::u16string(u"a\0b", 3)},
                                             {page, u"\\\\evil.example\\x"},
                                             {u"http://a\tb/", u"x"},
                                             {u"x:/a", u"/..//evil"},
                                             {u"http://h/p  #f", u""},
                                             {page, u"a #f"}}) {
    EXPECT_EQ(ResolveReference(base, reference), u"") << Narrow(base) << " + " << Narrow(reference);
  }
  EXPECT_EQ(ResolveReference(u"x:/a", u"/..//ok/.."), u"");
  EXPECT_EQ(ResolveReference(u"x:/a", u"b/../c"), u"x:/c");
}

TEST(LinksTest, HostsCompareWithoutCaseButWithTheirPorts) {
  const std::u16string site = u"http://Pictures.Example:8080/gallery/1";
  struct Case {
    const char16_t* url;
    bool stays;
  };
  for (const Case& c :
       {Case{u"http://pictures.example:8080/x", true}, Case{u"HTTP://PICTURES.EXAMPLE:8080", true},
        Case{u"http://pictures.example/x", false}, Case{u"https://pictures.example:8080/x", true},
        Case{u"http://pictures.example:08080/x", true},
        Case{u"http://pictures.example:80801/x", false},
        Case{u"http://pictures.example:8o80/x", false},
        Case{u"http://pictures.example.evil:8080/x", false},
        Case{u"http://user@pictures.example:8080/x", false},
        Case{u"ftp://pictures.example:8080/x", false}, Case{u"pictures.example:8080/x", false},
        Case{u"/x", false}}) {
    EXPECT_EQ(StaysOnHost(c.url, site), c.stays) << Narrow(c.url);
  }
  EXPECT_TRUE(StaysOnHost(u"http://h:80/", u"http://h/"));
  EXPECT_TRUE(StaysOnHost(u"http://h:/", u"http://h"));
  EXPECT_TRUE(StaysOnHost(u"https://h:443/", u"https://h"));
  EXPECT_FALSE(StaysOnHost(u"http://h/", u"https://h"));
  EXPECT_TRUE(StaysOnHost(u"http://[::1]:8080/x", u"http://[::1]:8080"));
  EXPECT_FALSE(StaysOnHost(u"http://[::1]/x", u"http://[::1]:8080"));
  EXPECT_FALSE(StaysOnHost(u"http:///x", u"http:///y"));
  EXPECT_FALSE(StaysOnHost(u"http://h/", u"not a url"));
}

}  // namespace
}  // namespace pageloom::test
