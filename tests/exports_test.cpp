// The library's dynamic symbol table holds exactly the export list that the
// entry table implies, nothing more and nothing less. The ELF file is read
// directly, so the test needs no binutils.
#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "orovox/entries.h"
#include "support.h"

namespace Orovox::Test {
namespace {

struct DynamicSymbol {
  unsigned type;     // STT_FUNC, STT_OBJECT, ...
  unsigned binding;  // STB_GLOBAL, STB_WEAK, ...
  uint64_t size;
};

// Defined symbols of the file's dynamic symbol table, by name. Fails the test
// (and returns what it has) on anything that is not a well-formed ELF64 file.
std::map<std::string, DynamicSymbol> DefinedDynamicSymbols(const std::string& path) {
  std::map<std::string, DynamicSymbol> out;
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto fits = [&](uint64_t offset, uint64_t bytes) { return offset <= image.size() && bytes <= image.size() - offset; };

  Elf64_Ehdr header;
  if (!fits(0, sizeof header)) {
    ADD_FAILURE() << "cannot read " << path;
    return out;
  }
  std::memcpy(&header, image.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_shentsize != sizeof(Elf64_Shdr) || !fits(header.e_shoff, uint64_t{header.e_shnum} * sizeof(Elf64_Shdr))) {
    ADD_FAILURE() << path << " is not an ELF64 file with section headers";
    return out;
  }
  auto section = [&](size_t index) {
    Elf64_Shdr s;
    std::memcpy(&s, image.data() + header.e_shoff + index * sizeof s, sizeof s);
    return s;
  };
  for (size_t n = 0; n < header.e_shnum; ++n) {
    const Elf64_Shdr table = section(n);
    if (table.sh_type != SHT_DYNSYM) continue;
    if (table.sh_link >= header.e_shnum || !fits(table.sh_offset, table.sh_size)) {
      ADD_FAILURE() << "malformed dynamic symbol table";
      return out;
    }
    const Elf64_Shdr strings = section(table.sh_link);
    if (!fits(strings.sh_offset, strings.sh_size)) {
      ADD_FAILURE() << "malformed dynamic string table";
      return out;
    }
    const char* names = image.data() + strings.sh_offset;
    for (uint64_t k = 1; k < table.sh_size / sizeof(Elf64_Sym); ++k) {  // entry 0 is the null symbol
      Elf64_Sym sym;
      std::memcpy(&sym, image.data() + table.sh_offset + k * sizeof sym, sizeof sym);
      if (sym.st_shndx == SHN_UNDEF) continue;
      if (sym.st_name >= strings.sh_size || !std::memchr(names + sym.st_name, '\0', strings.sh_size - sym.st_name)) {
        ADD_FAILURE() << "symbol " << k << " has a name outside the string table";
        continue;
      }
      out[names + sym.st_name] = {ELF64_ST_TYPE(sym.st_info), ELF64_ST_BIND(sym.st_info), sym.st_size};
    }
  }
  return out;
}

// Every symbol the library must export, with the kind of each.
std::map<std::string, unsigned> ExpectedExports() {
  std::map<std::string, unsigned> expected;
  for (const EntryInfo& entry : kEntryTable) {
    const std::string id = entry.identifier;
    expected[id] = STT_FUNC;
    for (const char* suffix : {kSse2Suffix, kAvx2Suffix}) {
      expected[id + suffix] = STT_FUNC;
      expected["burst.initialize.externals." + id + suffix] = STT_FUNC;
      expected["burst.initialize.statics." + id + suffix] = STT_FUNC;
    }
  }
  expected["burst.initialize"] = STT_FUNC;
  for (const char* callback : {kAbortName, kWorkStealingRangeName, kMallocTrackedName, kFreeTrackedName})
    expected[std::string(callback) + "_Ptr"] = STT_OBJECT;
  expected["UnityEngine.Vector2 UnityEngine.Vector2::zeroVector"] = STT_OBJECT;
  expected["UnityEngine.Vector3 UnityEngine.Vector3::zeroVector"] = STT_OBJECT;
  return expected;
}

TEST(ExportsTest, DynamicSymbolTableIsExactlyTheExportList) {
  const std::string path = Host::Library::DefaultPath();
  const std::map<std::string, DynamicSymbol> actual = DefinedDynamicSymbols(path);
  const std::map<std::string, unsigned> expected = ExpectedExports();
  ASSERT_EQ(expected.size(), 28u * 7u + 7u);  // identifiers are distinct

  for (const auto& [name, type] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) {
      ADD_FAILURE() << "missing export: \"" << name << "\"";
      continue;
    }
    EXPECT_EQ(found->second.type, type) << "\"" << name << "\" is of the wrong kind";
    EXPECT_EQ(found->second.binding, unsigned{STB_GLOBAL}) << "\"" << name << "\"";
  }
  for (const auto& [name, symbol] : actual)
    EXPECT_TRUE(expected.count(name)) << "unexpected export: \"" << name << "\" in " << path;
}

TEST(ExportsTest, DataSlotsHaveTheirWidths) {
  const std::map<std::string, DynamicSymbol> actual = DefinedDynamicSymbols(Host::Library::DefaultPath());
  const struct {
    std::string name;
    uint64_t size;
  } kSlots[] = {
      {std::string(kAbortName) + "_Ptr", 8},
      {std::string(kWorkStealingRangeName) + "_Ptr", 8},
      {std::string(kMallocTrackedName) + "_Ptr", 8},
      {std::string(kFreeTrackedName) + "_Ptr", 8},
      {"UnityEngine.Vector2 UnityEngine.Vector2::zeroVector", 8},
      {"UnityEngine.Vector3 UnityEngine.Vector3::zeroVector", 12},
  };
  for (const auto& slot : kSlots) {
    const auto found = actual.find(slot.name);
    ASSERT_NE(found, actual.end()) << slot.name;
    EXPECT_EQ(found->second.size, slot.size) << slot.name;
  }
}

}  // namespace
}  // namespace Orovox::Test
