// Phoneme profiles: validation and the JSON form.
//
// The JSON keeps each phoneme's name, colour and coefficients together so
// that a person can read and edit one phoneme at a time:
//
//   { "format": "orovox-profile", "version": 1,
//     "analysisRate": 16000, "melChannels": 24, "mfccCount": 12, "method": "cosine",
//     "means": [m], "deviations": [m],
//     "phonemes": [ { "name": "A", "color": [r, g, b, a], "profile": [m] }, ... ] }
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "api/internal.h"
#include "orovox/orovox.h"

namespace Orovox {
namespace {

using nlohmann::json;

constexpr const char* kFormat = "orovox-profile";
constexpr int kVersion = 1;

// Limits that keep a profile's arrays and the job's work sane; a file beyond
// them is almost certainly damaged rather than a real calibration.
constexpr int32_t kMinRate = 1000, kMaxRate = 384000;
constexpr int32_t kMaxMelChannels = 256;
constexpr size_t kMaxPhonemes = 1024;

[[noreturn]] void Fail(const std::string& field, const std::string& why) {
  throw Error("profile: " + field + " " + why);
}

std::string At(const std::string& field, size_t i) { return field + "[" + std::to_string(i) + "]"; }

void CheckFinite(const std::vector<float>& v, const std::string& field) {
  for (size_t i = 0; i < v.size(); ++i)
    if (!std::isfinite(v[i])) Fail(At(field, i), "is not a finite number");
}

const json& Member(const json& obj, const char* key, const std::string& where) {
  auto it = obj.find(key);
  if (it == obj.end()) Fail(where.empty() ? key : where + "." + key, "is missing");
  return *it;
}

int32_t ReadInt(const json& obj, const char* key) {
  const json& v = Member(obj, key, "");
  if (!v.is_number_integer()) Fail(key, "must be an integer");
  const int64_t x = v.get<int64_t>();
  if (x < std::numeric_limits<int32_t>::min() || x > std::numeric_limits<int32_t>::max()) Fail(key, "is out of range");
  return static_cast<int32_t>(x);
}

// A number as the single-precision value the job will use; values beyond
// float range become infinite and are caught by the finiteness check.
float ReadFloat(const json& v, const std::string& field) {
  if (!v.is_number()) Fail(field, "must be a number");
  return static_cast<float>(v.get<double>());
}

std::vector<float> ReadFloats(const json& v, const std::string& field) {
  if (!v.is_array()) Fail(field, "must be an array of numbers");
  if (v.size() > 4096) Fail(field, "has too many values");
  std::vector<float> out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) out.push_back(ReadFloat(v[i], At(field, i)));
  return out;
}

// Distinct, easy to tell apart colours for phonemes that name none.
ColorEntry PaletteColor(size_t i) {
  static const ColorEntry kPalette[] = {
      {0.90f, 0.20f, 0.20f, 1}, {0.95f, 0.80f, 0.15f, 1}, {0.25f, 0.45f, 0.95f, 1}, {0.25f, 0.80f, 0.35f, 1},
      {0.70f, 0.35f, 0.85f, 1}, {0.95f, 0.55f, 0.15f, 1}, {0.20f, 0.80f, 0.85f, 1}, {0.90f, 0.40f, 0.65f, 1},
  };
  return kPalette[i % (sizeof kPalette / sizeof kPalette[0])];
}

// Shortest text that reads back as the same float.
std::string FloatText(float x) {
  // JSON readers take "-0" for the integer 0; only a fraction keeps the sign.
  if (x == 0.0f && std::signbit(x)) return "-0.0";
  char buf[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(x));
    if (std::strtof(buf, nullptr) == x) break;
  }
  return buf;
}

std::string FloatArray(const float* v, size_t n) {
  std::string s = "[";
  for (size_t i = 0; i < n; ++i) s += (i ? ", " : "") + FloatText(v[i]);
  return s + "]";
}

}  // namespace

const char* MethodName(ComparisonMethod method) {
  switch (method) {
    case Manhattan: return "manhattan";
    case Euclidean: return "euclidean";
    case Cosine: return "cosine";
  }
  return "unknown";
}

ComparisonMethod MethodFromName(const std::string& name) {
  for (ComparisonMethod m : {Manhattan, Euclidean, Cosine})
    if (name == MethodName(m)) return m;
  throw Error("unknown comparison method '" + name + "' (manhattan, euclidean or cosine)");
}

ColorEntry DefaultPhonemeColor(size_t index) { return PaletteColor(index); }

void Profile::Validate() const {
  if (analysisRate < kMinRate || analysisRate > kMaxRate)
    Fail("analysisRate", "must be between " + std::to_string(kMinRate) + " and " + std::to_string(kMaxRate) +
                             " Hz (got " + std::to_string(analysisRate) + ")");
  if (mfccCount < 1) Fail("mfccCount", "must be at least 1 (got " + std::to_string(mfccCount) + ")");
  // The coefficients are cepstrum positions 1 to m, so m + 1 channels at least.
  if (melChannels <= mfccCount || melChannels > kMaxMelChannels)
    Fail("melChannels", "must be more than mfccCount (" + std::to_string(mfccCount) + ") and at most " +
                            std::to_string(kMaxMelChannels) + " (got " + std::to_string(melChannels) + ")");
  if (method != Manhattan && method != Euclidean && method != Cosine)
    Fail("method", "is not a known comparison method (" + std::to_string(static_cast<int>(method)) + ")");
  const size_t m = static_cast<size_t>(mfccCount);
  const size_t k = names.size();
  if (k == 0) Fail("phonemes", "must name at least one phoneme");
  if (k > kMaxPhonemes) Fail("phonemes", "has more than " + std::to_string(kMaxPhonemes) + " entries");
  std::set<std::string> seen;
  for (size_t p = 0; p < k; ++p) {
    const std::string& n = names[p];
    if (n.empty() || n.size() > 32) Fail(At("names", p), "must be 1 to 32 characters");
    for (unsigned char c : n)
      if (c <= ' ' || c == ',' || c == '"' || c == '\\' || c == 0x7f)
        Fail(At("names", p), "'" + n + "' may not contain spaces, commas, quotes or control characters");
    if (!seen.insert(n).second) Fail(At("names", p), "'" + n + "' appears twice");
  }
  if (colors.size() != k)
    Fail("colors", "has " + std::to_string(colors.size()) + " entries for " + std::to_string(k) + " phonemes");
  for (size_t p = 0; p < k; ++p) {
    const ColorEntry& c = colors[p];
    for (float x : {c.r, c.g, c.b, c.a})
      if (!(x >= 0.0f && x <= 1.0f)) Fail(At("colors", p), "channels must lie in [0, 1]");
  }
  if (means.size() != m)
    Fail("means", "has " + std::to_string(means.size()) + " values, expected mfccCount = " + std::to_string(m));
  if (deviations.size() != m)
    Fail("deviations",
         "has " + std::to_string(deviations.size()) + " values, expected mfccCount = " + std::to_string(m));
  if (profiles.size() != k * m)
    Fail("profiles", "has " + std::to_string(profiles.size()) + " values, expected " + std::to_string(k) + " x " +
                         std::to_string(m));
  CheckFinite(means, "means");
  CheckFinite(deviations, "deviations");
  for (size_t i = 0; i < m; ++i)
    if (!(deviations[i] > 0.0f)) Fail(At("deviations", i), "must be greater than 0");
  CheckFinite(profiles, "profiles");
}

Profile Profile::FromJson(const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    // nlohmann's messages start with "[json.exception.parse_error.101] "; keep the useful part.
    std::string what = e.what();
    if (auto p = what.find("] "); p != std::string::npos) what = what.substr(p + 2);
    throw Error("profile: not valid JSON: " + what);
  }
  if (!doc.is_object()) throw Error("profile: not a JSON object");
  if (auto f = doc.find("format"); f != doc.end() && !(f->is_string() && *f == kFormat))
    Fail("format", std::string("must be \"") + kFormat + "\"");
  if (doc.contains("version") && ReadInt(doc, "version") != kVersion)
    Fail("version", "is not supported (this build reads version " + std::to_string(kVersion) + ")");

  Profile p;
  p.analysisRate = ReadInt(doc, "analysisRate");
  p.melChannels = ReadInt(doc, "melChannels");
  p.mfccCount = ReadInt(doc, "mfccCount");
  const json& method = Member(doc, "method", "");
  if (!method.is_string()) Fail("method", "must be one of \"manhattan\", \"euclidean\", \"cosine\"");
  try {
    p.method = MethodFromName(method.get<std::string>());
  } catch (const Error&) {
    Fail("method", "'" + method.get<std::string>() + "' is not one of manhattan, euclidean, cosine");
  }
  p.means = ReadFloats(Member(doc, "means", ""), "means");
  p.deviations = ReadFloats(Member(doc, "deviations", ""), "deviations");

  const json& phonemes = Member(doc, "phonemes", "");
  if (!phonemes.is_array()) Fail("phonemes", "must be an array");
  if (phonemes.size() > kMaxPhonemes) Fail("phonemes", "has more than " + std::to_string(kMaxPhonemes) + " entries");
  for (size_t i = 0; i < phonemes.size(); ++i) {
    const std::string where = At("phonemes", i);
    const json& ph = phonemes[i];
    if (!ph.is_object()) Fail(where, "must be an object");
    const json& name = Member(ph, "name", where);
    if (!name.is_string()) Fail(where + ".name", "must be a string");
    p.names.push_back(name.get<std::string>());
    if (auto c = ph.find("color"); c != ph.end()) {
      const std::vector<float> rgba = ReadFloats(*c, where + ".color");
      if (rgba.size() != 3 && rgba.size() != 4) Fail(where + ".color", "must have 3 or 4 channels");
      p.colors.push_back({rgba[0], rgba[1], rgba[2], rgba.size() == 4 ? rgba[3] : 1.0f});
    } else {
      p.colors.push_back(PaletteColor(i));
    }
    const std::vector<float> values = ReadFloats(Member(ph, "profile", where), where + ".profile");
    if (p.mfccCount >= 1 && values.size() != static_cast<size_t>(p.mfccCount))
      Fail(where + ".profile",
           "has " + std::to_string(values.size()) + " values, expected mfccCount = " + std::to_string(p.mfccCount));
    for (size_t j = 0; j < values.size(); ++j)
      if (!std::isfinite(values[j])) Fail(At(where + ".profile", j), "is not a finite number");
    p.profiles.insert(p.profiles.end(), values.begin(), values.end());
  }
  // Field names in JSON terms for the per-phoneme arrays; the rest match.
  try {
    p.Validate();
  } catch (const Error& e) {
    static const std::regex names(R"(names\[(\d+)\])"), colors(R"(colors\[(\d+)\])");
    std::string what = std::regex_replace(e.what(), names, "phonemes[$1].name");
    throw Error(std::regex_replace(what, colors, "phonemes[$1].color"));
  }
  return p;
}

Profile Profile::Load(const std::string& path) {
  const std::string text = Files::ReadAll(path);
  try {
    return FromJson(text);
  } catch (const Error& e) {
    throw Error(path + ": " + e.what());
  }
}

std::string Profile::ToJson() const {
  Validate();
  const size_t m = static_cast<size_t>(mfccCount);
  // Written by hand around the float arrays so that each phoneme stays on a
  // few lines and a diff of two calibrations reads well.
  std::ostringstream s;
  s << "{\n  \"format\": \"" << kFormat << "\",\n  \"version\": " << kVersion << ",\n"
    << "  \"analysisRate\": " << analysisRate << ",\n  \"melChannels\": " << melChannels << ",\n"
    << "  \"mfccCount\": " << mfccCount << ",\n  \"method\": \"" << MethodName(method) << "\",\n"
    << "  \"means\": " << FloatArray(means.data(), m) << ",\n"
    << "  \"deviations\": " << FloatArray(deviations.data(), m) << ",\n  \"phonemes\": [\n";
  for (size_t p = 0; p < names.size(); ++p) {
    const ColorEntry& c = colors[p];
    const float rgba[4] = {c.r, c.g, c.b, c.a};
    s << "    {\"name\": " << json(names[p]).dump() << ", \"color\": " << FloatArray(rgba, 4) << ",\n"
      << "     \"profile\": " << FloatArray(profiles.data() + p * m, m) << "}"
      << (p + 1 < names.size() ? ",\n" : "\n");
  }
  s << "  ]\n}\n";
  return s.str();
}

void Profile::Save(const std::string& path) const { Files::WriteAtomically(path, ToJson()); }

}  // namespace Orovox
