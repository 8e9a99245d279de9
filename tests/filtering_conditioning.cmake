orovox_test(conditioning_test SOURCES conditioning_test.cpp)

# The array forms of the filter and the down-sampler are internal to the
# library, so the filtering tests compile the unit once per variant set, as
# the library does, and reach it through a small bridge.
foreach(set sse2 avx2)
  add_library(filtering_unit_${set} OBJECT ${PROJECT_SOURCE_DIR}/src/dsp/filtering.cpp filtering_array_bridge.cpp)
  target_include_directories(filtering_unit_${set} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(filtering_unit_${set} PRIVATE OROVOX_SET=${set})
  target_link_libraries(filtering_unit_${set} PRIVATE PkgConfig::SLEEF)
endforeach()
target_compile_definitions(filtering_unit_sse2 PRIVATE OROVOX_SET_AVX2=0)
target_compile_options(filtering_unit_sse2 PRIVATE ${OROVOX_EXACT_FLAGS})
target_compile_definitions(filtering_unit_avx2 PRIVATE OROVOX_SET_AVX2=1)
target_compile_options(filtering_unit_avx2 PRIVATE ${OROVOX_EXACT_FLAGS} -mavx2 -mfma -mf16c)

orovox_test(filtering_test SOURCES filtering_test.cpp
            $<TARGET_OBJECTS:filtering_unit_sse2> $<TARGET_OBJECTS:filtering_unit_avx2>)

# The references are single precision operation by operation, like the kernels.
target_compile_options(filtering_test PRIVATE -ffp-contract=off)
target_compile_options(conditioning_test PRIVATE -ffp-contract=off)
