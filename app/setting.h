// The remembered view state and the open base's descriptor values, kept for the whole run.
#pragma once

#include <string>

namespace quillon::app {

struct TSetting {
  std::string lastchar;    // initial letter whose artists were last listed
  std::string lastartist;  // artist last selected
  std::string LastAlbum;   // album whose songs were last listed
  int lastpageindex = 0;   // tab page last active (0, 1 or 2)
  std::string Url;         // lyrics page address template of the open base, with "[id]"
  std::string base;        // name of the open base
  std::string baseDir;     // appDir + base + "\"
  std::string artistfile;  // artist index file name, relative to baseDir
  std::string AlbumDb;     // album table file name
  std::string songDb;      // song table file name
};

}  // namespace quillon::app
