// The body text of a 1 MB lyrics-like page (nested layout tables, paragraphs with inline markup,
// character references, scripts and styles between them): parse and text in one go, as the page
// host does for every page it loads. Also reports the memory the parsed document holds, as a
// multiple of the page size.
#include <benchmark/benchmark.h>

#include <string>

#include "web/html_document.h"

namespace quillon::web {
namespace {

std::string MakePage(std::size_t bytes) {
  std::string page =
      "<!DOCTYPE html><html><head><meta charset=utf-8><title>Songs</title>"
      "<style>td{padding:2px}</style><script>var x = '<p>';</script></head><body>";
  int n = 0;
  while (page.size() < bytes) {
    ++n;
    page += "<table class=layout><tr><td class=nav><a href='/a/" + std::to_string(n) + "'>Artist&nbsp;" +
            std::to_string(n) + "</a></td><td><div class=song><h2>Song " + std::to_string(n) +
            " Lyrics</h2><p>First line of the verse, caf\xC3\xA9 &amp; more<br>\n  Second   line &#8211; "
            "with <b>bold</b> and <i>italic</i> words<br>Third line</p><!-- ad --><script>ad(" +
            std::to_string(n) + ");</script><p>Chorus &hellip; la la la<br>and again</p></div></td></tr></table>\n";
  }
  return page + "</body></html>";
}

void BM_PageBodyText(benchmark::State& state) {
  std::string page = MakePage(static_cast<std::size_t>(state.range(0)));
  std::size_t textBytes = 0;
  for (auto _ : state) {
    std::string text = PageBodyText(page, "text/html");
    textBytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.counters["text_bytes"] = static_cast<double>(textBytes);
}
BENCHMARK(BM_PageBodyText)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// The parsed document's nodes and strings, counted, against the page size.
void BM_DocumentMemory(benchmark::State& state) {
  std::string page = MakePage(1 << 20);
  double ratio = 0;
  for (auto _ : state) {
    auto doc = THtmlDocument::Parse(page, "text/html");
    ratio = static_cast<double>(doc->TreeBytes() + page.size()) / static_cast<double>(page.size());
  }
  state.counters["memory_per_page_byte"] = ratio;
}
BENCHMARK(BM_DocumentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon::web

BENCHMARK_MAIN();
