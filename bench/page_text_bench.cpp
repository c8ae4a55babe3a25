// The body text of a lyrics-like page (nested layout tables, paragraphs with inline markup,
// character references, scripts and styles between them): parse and text in one go, as the page
// host does for every page it loads; at 1 MB and at 50 MB, without and with a sheet of 2,000
// rules of the kinds sites use (class, descendant, child, state pseudo-classes, structural
// pseudo-classes). Also reports the memory the parsed document holds, as a multiple of the page
// size, and the process's peak resident memory (run one large case per process for that figure:
// --benchmark_filter=BM_PageBodyText/52428800/0).
#include <benchmark/benchmark.h>

#include <string>

#if defined(__unix__)
#include <sys/resource.h>
#endif

#include "web/html_document.h"

namespace quillon::web {
namespace {

std::string MakeSheet(int rules) {
  std::string css = "td{padding:2px}.ad{display:none}\n";
  for (int i = 0; i < rules; ++i) {
    std::string n = std::to_string(i);
    switch (i % 5) {
      case 0:
        css += ".c" + n + " { color: red; display: block }\n";
        break;
      case 1:
        css += "div.song .x" + n + " span { text-transform: uppercase }\n";
        break;
      case 2:
        css += "#id" + n + " > p { display: none }\n";
        break;
      case 3:
        css += "td.nav a.l" + n + ":hover { visibility: hidden }\n";
        break;
      default:
        css += "ul li:nth-child(" + n + ") { display: block }\n";
        break;
    }
  }
  return css;
}

std::string MakePage(std::size_t bytes, int rules = 0) {
  std::string page = "<!DOCTYPE html><html><head><meta charset=utf-8><title>Songs</title><style>" + MakeSheet(rules) +
                     "</style><script>var x = '<p>';</script></head><body>";
  int n = 0;
  while (page.size() < bytes) {
    ++n;
    page += "<table class=layout><tr><td class=nav><a href='/a/" + std::to_string(n) + "'>Artist&nbsp;" +
            std::to_string(n) + "</a></td><td><div class=song><h2>Song " + std::to_string(n) +
            " Lyrics</h2><p>First line of the verse, caf\xC3\xA9 &amp; more<br>\n  Second   line &#8211; "
            "with <b>bold</b> and <i>italic</i> words<br>Third line</p><!-- ad --><script>ad(" +
            std::to_string(n) +
            ");</script><p>Chorus &hellip; la la la<br>and again</p><span class=ad>Sponsored</span>"
            "</div></td></tr></table>\n";
  }
  return page + "</body></html>";
}

double PeakResidentMegabytes() {
#if defined(__unix__)
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
#else
  return 0;
#endif
}

// Arguments: page size, number of rules.
void BM_PageBodyText(benchmark::State& state) {
  std::string page = MakePage(static_cast<std::size_t>(state.range(0)), static_cast<int>(state.range(1)));
  std::size_t textBytes = 0;
  for (auto _ : state) {
    std::string text = PageBodyText(page, "text/html");
    textBytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.counters["text_bytes"] = static_cast<double>(textBytes);
  state.counters["peak_rss_mb"] = PeakResidentMegabytes();
}
BENCHMARK(BM_PageBodyText)->Args({1 << 20, 0})->Args({1 << 20, 2000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageBodyText)
    ->Args({50 << 20, 0})
    ->Args({50 << 20, 2000})
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
