// Page 2's local search end to end in the real window under Wine, on a large base
// (scripts/large-base.sh): the search button's work until the first rows and the count are
// painted, beside the same statement opened on a bare query in the same process (what the window
// adds is the difference); then paging through a result of more than 100,000 rows in the grid.
// A small main rather than Google Benchmark: it runs under Wine with the program's windows.
//
//   local_search_bench <program folder> <base name> [runs]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/quillon_form.h"
#include "bench/window_bench.h"
#include "dataset/quarry_query.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "util/profile.h"
#include "web/external_browser.h"

using namespace quillon::bench;

int main(int argc, char** argv) {
  using namespace quillon;
  if (argc < 3) {
    std::fprintf(stderr, "usage: local_search_bench <program folder> <base name> [runs]\n");
    return 2;
  }
  const std::string base = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  TBenchWindow window(argv[1], base, 2);
  app::TQuillonForm& form = *window.form;
  const std::string& folder = window.folder;

  // An artist of the base for the artist terms.
  TProfileFile index(folder + base + "\\" + form.Setting.artistfile);
  std::string artist;
  for (const std::string& section : index.ReadSections()) {
    std::vector<std::string> names = index.ReadSection(section);
    if (!names.empty()) {
      artist = names[names.size() / 2];
      break;
    }
  }
  struct TSearch {
    const char* name;
    std::string song, artist;
  } searches[] = {
      {"song only (sweet)", "sweet", ""},
      {"artist only", "", artist},
      {"both terms (e, artist)", "e", artist},
  };
  for (const TSearch& s : searches) {
    std::vector<double> window, bare, withProgress;
    long progressCalls = 0;
    int rows = 0;
    for (int i = 0; i < runs; ++i) {
      form.songEdit->SetText(s.song);
      form.artistEdit->SetText(s.artist);
      auto start = Clock::now();
      form.fullschBClick(*form.fullschB);
      PaintNow(form);
      window.push_back(Ms(Clock::now() - start));
      rows = form.q1.RecordCount();

      dataset::TQuarryQuery q;
      q.SetDatabaseName(form.Setting.baseDir);
      q.SetSQLText(
          app::TQuillonForm::LocalSearchStatement(form.Setting.songDb, form.Setting.AlbumDb, s.song, s.artist));
      start = Clock::now();
      q.Open();
      if (q.RecordCount() != rows) std::fprintf(stderr, "row counts differ: %d and %d\n", q.RecordCount(), rows);
      bare.push_back(Ms(Clock::now() - start));

      dataset::TQuarryQuery counted;
      counted.SetDatabaseName(form.Setting.baseDir);
      counted.SetSQLText(q.SQLText());
      long calls = 0;
      counted.OnQueryProgress = [&](dataset::TQuarryQuery&, int, std::uint16_t, bool&) { ++calls; };
      start = Clock::now();
      counted.Open();
      withProgress.push_back(Ms(Clock::now() - start));
      progressCalls = calls;
    }
    std::printf("%s: %d rows (%s)\n", s.name, rows, form.infoLabel->Caption().c_str());
    Report("  search button, rows and count painted", window);
    Report("  the same statement on a bare query", bare);
    Report("  ... with a progress handler (" + std::to_string(progressCalls) + " calls)", withProgress);
  }

  // Paging through a large result: Page Down in the grid, each page painted.
  form.songEdit->SetText("ig");
  form.artistEdit->SetText("");
  form.fullschBClick(*form.fullschB);
  PaintNow(form);
  const int rows = form.q1.RecordCount();
  std::printf("paging: %d rows\n", rows);
  std::vector<double> pages;
  for (int i = 0; i < 200; ++i) {
    auto start = Clock::now();
    SendMessageA(form.DBGrid1->Handle(), WM_KEYDOWN, VK_NEXT, 0);
    PaintNow(form);
    pages.push_back(Ms(Clock::now() - start));
  }
  Report("  Page Down in the grid, painted", pages);
  std::vector<double> ends;
  for (int key : {VK_END, VK_HOME, VK_END}) {
    auto start = Clock::now();
    SendMessageA(form.DBGrid1->Handle(), WM_KEYDOWN, key, 0);
    PaintNow(form);
    ends.push_back(Ms(Clock::now() - start));
  }
  Report("  End / Home / End in the grid, painted", ends);
  return 0;
}
