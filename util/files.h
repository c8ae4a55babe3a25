// File and folder helpers of the program, on top of platform.h.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "util/platform.h"

namespace quillon {

// Raised when a file cannot be written; the text names the file.
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using platform::IsExistingFile;
using platform::IsExistingFolder;

bool IsPathDelimiter(char c);  // "\" or "/"
std::string WithTrailingDelimiter(std::string path);
std::string FolderOf(std::string_view path);    // up to and including the last delimiter
std::string FileNameOf(std::string_view path);  // after the last delimiter

// A name that stays inside the folder it is joined to: not empty, no folder delimiter, no drive
// or stream colon, not "." or "..", no control characters. Names read from files (tables, bases,
// artist files) must pass before they become part of a path.
bool IsPlainFileName(std::string_view name);

// Folder of the running executable, with a trailing delimiter.
std::string AppPath();

// True while the key is held down (Windows virtual-key code); never on platforms without one.
bool IsKeyDown(int virtualKey);

// Empty when the file does not exist. line -1: the whole file as text, its lines joined with
// CR LF and a final CR LF; otherwise the 0-based line (empty past the last one).
std::string LoadTextFile(const std::string& file, int line);

// When file is not empty: writes text as lines with CR LF ends and a final CR LF, overwriting the
// file. Raises EFileError when the file cannot be written.
void SaveTextFile(const std::string& text, const std::string& file);

// Windows wild-card match: "*" any run, "?" any one character, letters A-Z without case.
bool MatchesMask(std::string_view name, std::string_view mask);

// Clears list, then scans root (a delimiter is added when missing):
//  1. if at least one entry of the folder matches mask, the folder is added when includeRoot is
//     true or the folder is not root itself;
//  2. every subfolder is entered (listOnly false) or, with listOnly, not entered but listed by its
//     bare name (namesOnly) or its full path with a trailing delimiter.
void FindFolders(const std::string& root, const std::string& mask, std::vector<std::string>& list, bool includeRoot,
                 bool listOnly, bool namesOnly);

}  // namespace quillon
