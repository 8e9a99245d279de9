// Loads the library through the stand-alone host and reports what it chose.
#include <cstdio>
#include <exception>

#include "orovox/host.h"

int main() {
  try {
    Orovox::Host::Library& lib = Orovox::Host::Library::Shared();
    const bool avx2 = Orovox::Host::Library::ChosenSet() == Orovox::Host::VariantSet::Avx2;
    std::printf("library: %s\n", Orovox::Host::Library::DefaultPath().c_str());
    std::printf("variant set: %s\n", avx2 ? "avx2" : "sse2");
    std::printf("ProbeCompiled: %d\n", lib.entries().ProbeCompiled() ? 1 : 0);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orovox_probe: %s\n", e.what());
    return 1;
  }
}
