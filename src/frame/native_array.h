// Temporary arrays and scratch buffers: memory from the host's tracked
// allocator with label 2, alive only inside one entry call.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/host_services.h"
#include "orovox/records.h"

namespace Orovox::OROVOX_SET {

inline constexpr char kDisposeExceptionName[] = "System.InvalidOperationException";
inline constexpr char kDisposeMessage[] =
    "The NativeArray can not be Disposed because it was not allocated with a valid allocator.";

// Byte sizes are formed in 64 bits so that no element count overflows them.
template <typename T>
inline T* AllocateTemp(int32_t count) {
  return static_cast<T*>(Services::MallocTracked(static_cast<int64_t>(count) * int64_t{sizeof(T)}, kAllocatorTemp));
}

// A zero-filled temporary array of `count` elements.
template <typename T>
inline NativeArray<T> CreateTemporary(int32_t count) {
  T* elements = AllocateTemp<T>(count);
  const int64_t bytes = static_cast<int64_t>(count) * int64_t{sizeof(T)};
  if (bytes > 0) std::memset(elements, 0, static_cast<size_t>(bytes));
  return {elements, count, kAllocatorTemp};
}

// A temporary copy of `source`: filled by copying, not zeroed first.
template <typename T>
inline NativeArray<T> CreateTemporaryCopy(const NativeArray<T>& source) {
  T* elements = AllocateTemp<T>(source.length);
  const int64_t bytes = static_cast<int64_t>(source.length) * int64_t{sizeof(T)};
  if (bytes > 0) std::memcpy(elements, source.elements, static_cast<size_t>(bytes));
  return {elements, source.length, kAllocatorTemp};
}

// The dispose rule. Label 0 with memory is the library's one fatal error.
template <typename T>
inline void Dispose(NativeArray<T>& array) {
  if (array.elements == nullptr) return;
  if (array.label == kAllocatorInvalid) {
    Services::Abort(kDisposeExceptionName, kDisposeMessage);
    __builtin_trap();
  }
  if (array.label > kAllocatorNone) {
    Services::FreeTracked(array.elements, array.label);
    array.label = kAllocatorInvalid;
  }
  array.elements = nullptr;
}

// A zero-filled scratch buffer, held as a bare pointer within one call.
template <typename T>
inline T* AllocateScratch(int32_t count) {
  return CreateTemporary<T>(count).elements;
}

inline void FreeScratch(void* memory) {
  if (memory != nullptr) Services::FreeTracked(memory, kAllocatorTemp);
}

}  // namespace Orovox::OROVOX_SET
