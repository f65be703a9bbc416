# Benchmarks (Linux, Google Benchmark from Debian's libbenchmark-dev). They are clients of
# libquarrow2.so through its public interface, as a program using the library would be, and
# time every operation beside the bare system calls it rests on, and count the system calls
# of both. bench/run builds and runs them together with the JDK and Python loops and the
# tool's walks beside getfattr, and prints the comparison.
find_package(benchmark REQUIRED)

set(QUARROW2_BENCH_SUPPORT
  ${PROJECT_SOURCE_DIR}/bench/support/client.cpp
  ${PROJECT_SOURCE_DIR}/bench/support/item_fixture.cpp
  ${PROJECT_SOURCE_DIR}/bench/support/item_operations.cpp
  ${PROJECT_SOURCE_DIR}/bench/support/raw_xattr.cpp
  ${PROJECT_SOURCE_DIR}/bench/support/scratch_files.cpp
  ${PROJECT_SOURCE_DIR}/bench/support/volumes.cpp)
add_library(quarrow2_bench_support STATIC ${QUARROW2_BENCH_SUPPORT})
quarrow2_strict_warnings(quarrow2_bench_support)
quarrow2_client_includes(quarrow2_bench_support bench)
target_link_libraries(quarrow2_bench_support PUBLIC quarrow2 benchmark::benchmark)

# Timings: items, cycles and walks, each paired with its raw system-call sequence.
set(QUARROW2_BENCH_TIMING
  ${PROJECT_SOURCE_DIR}/bench/timing/cycle_benchmarks.cpp
  ${PROJECT_SOURCE_DIR}/bench/timing/item_benchmarks.cpp
  ${PROJECT_SOURCE_DIR}/bench/timing/main.cpp
  ${PROJECT_SOURCE_DIR}/bench/timing/walk_benchmarks.cpp)
add_executable(quarrow2_benchmarks ${QUARROW2_BENCH_TIMING})
quarrow2_strict_warnings(quarrow2_benchmarks)
target_link_libraries(quarrow2_benchmarks PRIVATE quarrow2_bench_support)

# Allocation counts: a binary of its own, so that the counting allocator it installs never
# runs under the timings.
set(QUARROW2_BENCH_ALLOCATIONS
  ${PROJECT_SOURCE_DIR}/bench/allocations/counting_allocator.cpp
  ${PROJECT_SOURCE_DIR}/bench/allocations/main.cpp)
add_executable(quarrow2_allocations ${QUARROW2_BENCH_ALLOCATIONS})
quarrow2_strict_warnings(quarrow2_allocations)
target_link_libraries(quarrow2_allocations PRIVATE quarrow2_bench_support)


# System calls per item operation: a driver that bench/syscalls/count.py runs under strace,
# calling the timed steps between marks the trace shows.
add_executable(quarrow2_syscall_counts ${PROJECT_SOURCE_DIR}/bench/syscalls/main.cpp)
quarrow2_strict_warnings(quarrow2_syscall_counts)
target_link_libraries(quarrow2_syscall_counts PRIVATE quarrow2_bench_support)
