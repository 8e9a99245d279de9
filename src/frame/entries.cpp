// One variant set's exported symbols, generated from the entry table: for
// every entry its body <id><suffix>, its externals binder and its (empty)
// statics initialiser.
#include "dsp/algorithm.h"
#include "frame/host_services.h"
#include "frame/support.h"
#include "lipsync/lipsync_job.h"
#include "mesh/mesh_jobs.h"
#include "textures/texture_jobs.h"

namespace Orovox::OROVOX_SET {
namespace {

template <typename Record>
void RunSingleJob(void* record) {
  static_cast<Record*>(record)->Execute();
}

template <typename Record>
void RunParallelForJob(void* record, void* ranges, int32_t worker) {
  const Record& job = *static_cast<const Record*>(record);
  Services::ForEachRange(ranges, worker, [&job](int32_t begin, int32_t end) { job.ExecuteRange(begin, end); });
}

}  // namespace
}  // namespace Orovox::OROVOX_SET

#define OROVOX_BINDER_AND_STATICS(number, id, callbacks)                                                    \
  extern "C" OROVOX_EXPORT void Bind_##number(::Orovox::Resolver resolve)                                   \
      OROVOX_SYMBOL("burst.initialize.externals." id OROVOX_SET_SUFFIX);                                   \
  void Bind_##number(::Orovox::Resolver resolve) {                                                          \
    ::Orovox::OROVOX_SET::Services::BindCallbacks(resolve, callbacks);                                      \
  }                                                                                                         \
  extern "C" OROVOX_EXPORT void Statics_##number() OROVOX_SYMBOL("burst.initialize.statics." id OROVOX_SET_SUFFIX); \
  void Statics_##number() {}

#define OROVOX_FUNCTION(number, id, Name, callbacks, R, params, args, impl)                  \
  extern "C" OROVOX_EXPORT R Body_##number params OROVOX_SYMBOL(id OROVOX_SET_SUFFIX); \
  R Body_##number params { return ::Orovox::OROVOX_SET::impl args; }                       \
  OROVOX_BINDER_AND_STATICS(number, id, callbacks)

#define OROVOX_RUN_SingleJob(Record) ::Orovox::OROVOX_SET::RunSingleJob<::Orovox::OROVOX_SET::Record>(record)
#define OROVOX_RUN_ParallelForJob(Record) \
  ::Orovox::OROVOX_SET::RunParallelForJob<::Orovox::OROVOX_SET::Record>(record, ranges, worker)

#define OROVOX_JOB(number, id, Name, Kind, callbacks, Record)                                      \
  extern "C" OROVOX_EXPORT void Body_##number(void* record, void* hostA, void* hostB, void* ranges, \
                                              int32_t worker) OROVOX_SYMBOL(id OROVOX_SET_SUFFIX); \
  void Body_##number(void* record, void*, void*, [[maybe_unused]] void* ranges,                     \
                     [[maybe_unused]] int32_t worker) {                                             \
    OROVOX_RUN_##Kind(Record);                                                                      \
  }                                                                                                 \
  OROVOX_BINDER_AND_STATICS(number, id, callbacks)

#include "orovox/entry_table.def"
