// Helpers shared by the API's units and the tool; not installed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "orovox/records.h"

namespace Orovox {

// Colour of the phoneme at `index` when a profile names none.
ColorEntry DefaultPhonemeColor(size_t index);

namespace Files {

// The whole file; throws Error naming the path and the reason.
std::string ReadAll(const std::string& path);

// Writes into a temporary beside `path` and renames it over `path` on
// Commit(); a file that is destroyed uncommitted removes its temporary, so a
// failure never leaves a partial file under the final name.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::string& temporaryPath() const { return temp_; }
  void Write(const void* data, size_t size);
  void Commit();

 private:
  std::string path_, temp_;
  int fd_ = -1;
  bool committed_ = false;
};

void WriteAtomically(const std::string& path, const std::string& contents);

}  // namespace Files
}  // namespace Orovox
