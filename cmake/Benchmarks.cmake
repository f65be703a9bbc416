# Benchmarks (Linux, Google Benchmark from Debian's libbenchmark-dev). They are clients of
# libquarrow2.so through its public interface, as a program using the library would be, and
# time every operation beside the bare system calls it rests on. bench/run builds and runs
# them together with the JDK and Python loops and prints the comparison.
find_package(benchmark REQUIRED)

file(GLOB QUARROW2_BENCH_SUPPORT CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/support/*.cpp)
add_library(quarrow2_bench_support STATIC ${QUARROW2_BENCH_SUPPORT})
target_include_directories(quarrow2_bench_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quarrow2_bench_support PUBLIC quarrow2 benchmark::benchmark)

# Timings: items, cycles and walks, each paired with its raw system-call sequence.
file(GLOB QUARROW2_BENCH_TIMING CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/timing/*.cpp)
add_executable(quarrow2_benchmarks ${QUARROW2_BENCH_TIMING})
target_link_libraries(quarrow2_benchmarks PRIVATE quarrow2_bench_support)

# Allocation counts: a binary of its own, so that the counting allocator it installs never
# runs under the timings.
file(GLOB QUARROW2_BENCH_ALLOCATIONS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/allocations/*.cpp)
add_executable(quarrow2_allocations ${QUARROW2_BENCH_ALLOCATIONS})
target_link_libraries(quarrow2_allocations PRIVATE quarrow2_bench_support)

