# libquarrow2.so as a client links it, with a library preloaded ahead of it that defines two
# of its exports once more. How the library is linked is the same in every build: checked
# where no sanitizer runtime has to come first in the process.
add_library(quarrow2_interposer MODULE ${CMAKE_CURRENT_LIST_DIR}/interposer.cpp)
target_include_directories(quarrow2_interposer PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(quarrow2_interposer PRIVATE ${CMAKE_DL_LIBS})
add_executable(quarrow2_interposition_tests ${CMAKE_CURRENT_LIST_DIR}/interposition_test.cpp)
target_link_libraries(quarrow2_interposition_tests PRIVATE quarrow2 GTest::gtest_main
                                                           ${CMAKE_DL_LIBS})
foreach(target quarrow2_interposer quarrow2_interposition_tests)
  quarrow2_strict_warnings(${target})
endforeach()
gtest_discover_tests(quarrow2_interposition_tests DISCOVERY_MODE PRE_TEST
                     TEST_PREFIX "${QUARROW2_TEST_PREFIX}" PROPERTIES TIMEOUT 60
                     ENVIRONMENT "LD_PRELOAD=$<TARGET_FILE:quarrow2_interposer>")
