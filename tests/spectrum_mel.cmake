orovox_test(spectrum_test SOURCES spectrum_test.cpp)

# The array form of the filter bank is internal to the library, so the mel
# tests compile the unit once per variant set, as the library does, and
# reach it through a small bridge.
foreach(set sse2 avx2)
  add_library(mel_unit_${set} OBJECT ${PROJECT_SOURCE_DIR}/src/dsp/mel.cpp mel_array_bridge.cpp)
  target_include_directories(mel_unit_${set} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(mel_unit_${set} PRIVATE OROVOX_SET=${set})
  target_link_libraries(mel_unit_${set} PRIVATE PkgConfig::SLEEF)
endforeach()
target_compile_definitions(mel_unit_sse2 PRIVATE OROVOX_SET_AVX2=0)
target_compile_options(mel_unit_sse2 PRIVATE ${OROVOX_EXACT_FLAGS})
target_compile_definitions(mel_unit_avx2 PRIVATE OROVOX_SET_AVX2=1)
target_compile_options(mel_unit_avx2 PRIVATE ${OROVOX_EXACT_FLAGS} -mavx2 -mfma -mf16c)

orovox_test(mel_test SOURCES mel_test.cpp $<TARGET_OBJECTS:mel_unit_sse2> $<TARGET_OBJECTS:mel_unit_avx2>)

# The references are single precision operation by operation, like the kernels.
target_compile_options(spectrum_test PRIVATE -ffp-contract=off)
target_compile_options(mel_test PRIVATE -ffp-contract=off)
