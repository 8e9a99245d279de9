// The command line from outside. The input is the argument list, one
// argument per line, then an empty line and the bytes that `stream` reads on
// standard input. The tool runs in-process inside a private temporary
// folder holding a small recording (a.wav), a valid profile (p.json) and a
// broken one (bad.json); '/' is removed from every argument, so nothing can
// name a path outside that folder.
//
// Checks: the exit status is 0, 1 or 2; a failure says why on the error
// stream; and a failed run leaves no file behind, not even a temporary.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "fuzz_support.h"
#include "orovox/orovox.h"

namespace {

namespace fs = std::filesystem;

std::string g_folder;
std::vector<std::pair<std::string, std::string>> g_fixtures;

void Put16(std::string& s, uint32_t v) { s.push_back(static_cast<char>(v & 255)), s.push_back(static_cast<char>(v >> 8)); }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// 0.25 s of a vowel-like buzz, 16-bit mono at 16 kHz.
std::string SmallWav() {
  const uint32_t rate = 16000, n = 4000;
  std::string pcm;
  for (uint32_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double x = 0.3 * std::sin(2 * M_PI * 140 * t) + 0.2 * std::sin(2 * M_PI * 700 * t) + 0.1 * std::sin(2 * M_PI * 1200 * t);
    Put16(pcm, static_cast<uint16_t>(static_cast<int16_t>(std::lrint(x * 32767))));
  }
  std::string w = "RIFF";
  Put32(w, 36 + static_cast<uint32_t>(pcm.size()));
  w += "WAVEfmt ";
  Put32(w, 16), Put16(w, 1), Put16(w, 1), Put32(w, rate), Put32(w, rate * 2), Put16(w, 2), Put16(w, 16);
  w += "data";
  Put32(w, static_cast<uint32_t>(pcm.size()));
  return w + pcm;
}

void WriteFixtures() {
  for (const auto& [name, contents] : g_fixtures) {
    std::ofstream f(name, std::ios::binary | std::ios::trunc);
    f << contents;
  }
}

std::set<std::string> Listing() {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(".")) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "orovox-fuzz-cli-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) std::abort();
  g_folder = pattern;
  g_fixtures = {{"a.wav", SmallWav()},
                {"p.json", Orovox::Profile::Default().ToJson()},
                {"bad.json", "{\"analysisRate\": 16000, \"method\": \"nearest\"}"}};
  WriteFixtures();
  std::atexit([] { fs::remove_all(g_folder); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  size_t at = 0;
  while (at <= text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    if (nl == at && nl < text.size()) {  // the empty line: standard input follows
      at = nl + 1;
      break;
    }
    std::string arg = text.substr(at, nl - at);
    std::erase(arg, '/');
    if (args.size() < 64) args.push_back(arg);
    at = nl + 1;
  }
  if (!args.empty() && args.back().empty() && at > text.size()) args.pop_back();
  std::istringstream in(at < text.size() ? text.substr(at) : std::string());
  std::ostringstream out, err;

  WriteFixtures();
  const std::set<std::string> before = Listing();
  const int status = Orovox::RunCli(args, in, out, err);
  const std::set<std::string> after = Listing();

  FUZZ_CHECK(status >= 0 && status <= 2, "exit status %d", status);
  if (status != 0) {
    FUZZ_CHECK(!err.str().empty(), "exit status %d without a message", status);
    FUZZ_CHECK(after == before, "a failed run (status %d) left %zu new files", status, after.size() - before.size());
  }
  for (const std::string& name : after)
    if (!before.count(name)) fs::remove_all(name);
  return 0;
}
