// Loading the library, the resolver, and the abort service.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>

#include "frame/processor_level.h"
#include "orovox/host.h"

namespace Orovox::Host {
namespace {

struct AbortState {
  std::mutex mutex;
  std::atomic<int64_t> count{0};
  AbortRecord last;
};

AbortState& Aborts() {
  static AbortState* s = new AbortState;
  return *s;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<void*> Resolve(void* handle, const char* suffix) {
  std::vector<void*> fns;
  for (const EntryInfo& e : kEntryTable) {
    const std::string name = std::string(e.identifier) + suffix;
    void* f = dlsym(handle, name.c_str());
    if (f == nullptr) throw std::runtime_error("liborovox: missing symbol " + name);
    fns.push_back(f);
  }
  return fns;
}

}  // namespace

void HostAbort(const char* exceptionName, const char* message) {
  // Like the engine, report the exception before the library traps.
  std::fprintf(stderr, "%s: %s\n", exceptionName != nullptr ? exceptionName : "(null)", message != nullptr ? message : "(null)");
  AbortState& s = Aborts();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.last = {exceptionName != nullptr ? exceptionName : "", message != nullptr ? message : ""};
  s.count.fetch_add(1);
}

int64_t AbortCount() { return Aborts().count.load(); }

AbortRecord LastAbort() {
  std::lock_guard<std::mutex> lock(Aborts().mutex);
  return Aborts().last;
}

void* HostResolve(const char* name) {
  if (name == nullptr) return nullptr;
  if (std::strcmp(name, kAbortName) == 0) return reinterpret_cast<void*>(&HostAbort);
  if (std::strcmp(name, kWorkStealingRangeName) == 0) return reinterpret_cast<void*>(&HostGetWorkStealingRange);
  if (std::strcmp(name, kMallocTrackedName) == 0) return reinterpret_cast<void*>(&TrackedAllocator::Allocate);
  if (std::strcmp(name, kFreeTrackedName) == 0) return reinterpret_cast<void*>(&TrackedAllocator::Free);
  return nullptr;
}

std::string Library::DefaultPath() {
  if (const char* env = std::getenv("OROVOX_LIBRARY"); env != nullptr && *env != '\0') return env;
  if (Exists(OROVOX_BUILD_LIBRARY)) return OROVOX_BUILD_LIBRARY;
  if (Exists(OROVOX_INSTALLED_LIBRARY)) return OROVOX_INSTALLED_LIBRARY;
  return "liborovox.so.0";
}

Library& Library::Shared() {
  static Library* lib = new Library();  // the library's slots are process-wide; never unloaded
  return *lib;
}

Library::Library(const std::string& path, bool initialize) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load the Orovox library " + path + ": " + (why != nullptr ? why : "unknown error"));
  }
  std::vector<void*> dispatch;
  for (const EntryInfo& e : kEntryTable) {
    void* f = dlsym(handle_, e.identifier);
    if (f == nullptr) throw std::runtime_error("liborovox: missing symbol " + std::string(e.identifier));
    dispatch.push_back(f);
  }
  dispatch_ = EntryPoints(dispatch);
  sse2_ = EntryPoints(Resolve(handle_, kSse2Suffix));
  avx2_ = EntryPoints(Resolve(handle_, kAvx2Suffix));
  if (initialize) Initialize();
}

// The library stays mapped: its slots may still be in use by other handles.
Library::~Library() = default;

void Library::Initialize(Resolver resolve) {
  auto init = reinterpret_cast<void (*)(Resolver)>(dlsym(handle_, "burst.initialize"));
  if (init == nullptr) throw std::runtime_error("liborovox: missing symbol burst.initialize");
  init(resolve);
}

void* Library::Symbol(const std::string& name) const { return dlsym(handle_, name.c_str()); }

VariantSet Library::ChosenSet() {
  return Frame::SelectsAvx2(Frame::CurrentProcessorLevel()) ? VariantSet::Avx2 : VariantSet::Sse2;
}

bool Library::CanRunAvx2() { return ChosenSet() == VariantSet::Avx2; }

}  // namespace Orovox::Host
