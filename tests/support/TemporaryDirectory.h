#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it when the object goes.
// Tests put capture folders, ready files and a temporary XDG_DATA_HOME here.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// What a folder holds, recursively, without following links: each entry's path relative to the
// folder, with its kind ("folder", "other"), for a file "file " and its bytes, for a link
// "link to " and where it points. Tests compare two snapshots to see that nothing changed.
std::map<std::string, std::string> FolderSnapshot(const std::string& folder);

// Everything written to `file` so far (a tmpfile() standing in for a standard stream), read from
// its start.
std::string ReadStream(std::FILE* file);

// The lines of `text`, without their line breaks.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace testsupport
