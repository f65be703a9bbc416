# Other programs that read and write the same named streams: getfattr and setfattr, the
# JDK, Python and ntfs-3g. Each test runs a peer on real files and checks, both ways, that
# it and Quarrow2 see the same items with the same bytes. A peer that is not installed is
# skipped with its reason.
add_executable(quarrow2_peer_tests ${PROJECT_SOURCE_DIR}/tests/peers/peers_test.cpp)
quarrow2_strict_warnings(quarrow2_peer_tests)
target_link_libraries(quarrow2_peer_tests PRIVATE quarrow2_test_support)
# Where the peer programs' sources are.
target_compile_definitions(quarrow2_peer_tests PRIVATE
  QUARROW2_PEERS_SOURCE_DIR="${PROJECT_SOURCE_DIR}/tests/peers")
gtest_discover_tests(quarrow2_peer_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "${QUARROW2_TEST_PREFIX}"
                     PROPERTIES TIMEOUT 300 LABELS peers)
