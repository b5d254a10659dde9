// Evaluating a chapter's packed script: 200 picture paths, engine creation included.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "text/encoding.h"
#include "text/script_eval.h"

namespace {

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

// Packs source the way chapter pages ship it: a function(p,a,c,k,e,d) unpacker over a
// '|'-separated word list, most frequent word first.
std::string Pack(const std::string& source) {
  std::vector<std::string> words;
  std::map<std::string, int> counts;
  std::vector<std::pair<bool, std::string>> tokens;  // (is word, text)
  for (std::size_t i = 0; i < source.size();) {
    std::size_t end = i;
    const bool word = IsWordChar(source[i]);
    while (end < source.size() && IsWordChar(source[end]) == word) ++end;
    tokens.emplace_back(word, source.substr(i, end - i));
    if (word && counts[tokens.back().second]++ == 0) words.push_back(tokens.back().second);
    i = end;
  }
  std::stable_sort(words.begin(), words.end(),
                   [&](const std::string& a, const std::string& b) { return counts[a] > counts[b]; });
  std::map<std::string, std::size_t> index;
  for (std::size_t k = 0; k < words.size(); ++k) index[words[k]] = k;

  std::string payload;
  for (const auto& [word, text] : tokens) {
    if (word) {
      payload += Base62(index[text]);
      continue;
    }
    for (char c : text) {
      if (c == '\\' || c == '\'') payload += '\\';
      payload += c;
    }
  }
  std::string list;
  for (std::size_t k = 0; k < words.size(); ++k) list += (k ? "|" : "") + words[k];
  return R"JS((function(p,a,c,k,e,d){e=function(c){return(c<a?'':e(parseInt(c/a)))+((c=c%a)>35?String.fromCharCode(c+29):c.toString(36))};if(!''.replace(/^/,String)){while(c--){d[e(c)]=k[c]||e(c)}k=[function(e){return d[e]}];e=function(){return'\\w+'};c=1};while(c--){if(k[c]){p=p.replace(new RegExp('\\b'+e(c)+'\\b','g'),k[c])}}return p}(')JS" +
         payload + "',62," + std::to_string(words.size()) + ",'" + list + "'.split('|'),0,{}))";
}

// A chapter of 200 pictures under a Chinese comic and chapter folder, in ANSI text.
std::string ChapterScript() {
  std::string source = "var pages=pages='[";
  for (int k = 1; k <= 200; ++k) {
    char name[64];
    std::snprintf(name, sizeof name, "%s\"t\\/\xE5\xA4\xA9\xE4\xBD\xBF\\/\xE7\xAC\xAC" "01\xE8\xAF\x9D\\/%04d_%d.jpg\"",
                  k > 1 ? "," : "", k, 13500000 + k * 7);
    source += name;
  }
  source += "]';";
  std::string ansi;
  const std::string packed = Pack(source);
  pageloom::CodeConverter().Utf8ToAnsi(ansi, packed.data(), static_cast<int>(packed.size()));
  return ansi;
}

void BM_EvalPictureList200(benchmark::State& state) {
  const std::string script = ChapterScript();
  std::list<std::u16string> list;
  for (auto _ : state) {
    list.clear();
    if (pageloom::EvalPictureList(script.c_str(), list) != 1 || list.size() != 200) {
      state.SkipWithError("the script did not give 200 addresses");
      break;
    }
    benchmark::DoNotOptimize(list);
  }
  state.counters["script_bytes"] = static_cast<double>(script.size());
}
BENCHMARK(BM_EvalPictureList200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  pageloom::ScriptApplication application;  // the engine needs an application object
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
