# A client of the library (the tool, the benchmarks, the examples, the Python module) sees
# the public interface and its own folder, nothing else of the tree: its include path is
# include/ and a folder of the build holding one link, named like the client's folder, so
# that an include rooted at the repository ("bench/support/client.h") still resolves.
function(quarrow2_client_includes target folder)
  set(root ${CMAKE_BINARY_DIR}/client-include/${folder})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include ${root})
endfunction()
