# The Python module (Linux): the extension _quarrow2, built with Debian's pybind11 and a
# client of libquarrow2.so through the public interface alone, inside the package quarrow2,
# whose Python layer it installs beside it. The build tree holds the same package in
# python/quarrow2/, so PYTHONPATH=<build>/python imports it without installing.
# Built for one Python, the one the user runs: -DPython3_EXECUTABLE=... (setup.py passes the
# interpreter that runs pip), else the first python3 on PATH. The Debian package
# python3-quarrow2 is made for the same one (cmake/DebianPackages.cmake).
if(NOT Python3_EXECUTABLE)
  find_program(Python3_EXECUTABLE python3 NO_CMAKE_FIND_ROOT_PATH
               DOC "The Python the module is built for")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module)
find_package(pybind11 CONFIG REQUIRED)

set(QUARROW2_PYTHON_PACKAGE ${CMAKE_BINARY_DIR}/python/quarrow2)
pybind11_add_module(quarrow2_python MODULE
  ${PROJECT_SOURCE_DIR}/python/extension/library_objects.cpp
  ${PROJECT_SOURCE_DIR}/python/extension/module.cpp
  ${PROJECT_SOURCE_DIR}/python/extension/values.cpp)
quarrow2_strict_warnings(quarrow2_python)
target_link_libraries(quarrow2_python PRIVATE quarrow2)
quarrow2_client_includes(quarrow2_python python)
set_target_properties(quarrow2_python PROPERTIES OUTPUT_NAME _quarrow2
                      LIBRARY_OUTPUT_DIRECTORY ${QUARROW2_PYTHON_PACKAGE})

# Copied at configure time; CMake configures again when one of them changes. The version
# is the project's, written into _version.py.
set(QUARROW2_PYTHON_FILES __init__.py _errors.py _quarrow2.pyi py.typed)
foreach(name ${QUARROW2_PYTHON_FILES})
  configure_file(${PROJECT_SOURCE_DIR}/python/quarrow2/${name} ${QUARROW2_PYTHON_PACKAGE}/${name}
                 COPYONLY)
endforeach()
file(CONFIGURE OUTPUT ${QUARROW2_PYTHON_PACKAGE}/_version.py
     CONTENT "\"\"\"The version of Quarrow2 this module belongs to.\"\"\"\n__version__ = \"${PROJECT_VERSION}\"\n")
list(TRANSFORM QUARROW2_PYTHON_FILES PREPEND ${QUARROW2_PYTHON_PACKAGE}/)
list(APPEND QUARROW2_PYTHON_FILES ${QUARROW2_PYTHON_PACKAGE}/_version.py)

if(QUARROW2_PYTHON_WHEEL)
  # A wheel (setup.py installs into its package root): the package carries the library under
  # its soname, and the extension finds it beside itself.
  set(QUARROW2_PYTHON_INSTALL_DIR .)
  set_target_properties(quarrow2_python PROPERTIES INSTALL_RPATH "$ORIGIN")
  get_target_property(soversion quarrow2 SOVERSION)
  install(FILES $<TARGET_FILE:quarrow2> DESTINATION quarrow2 RENAME libquarrow2.so.${soversion}
          COMPONENT python)
else()
  # Debian's system Python finds packages in /usr/lib/python3/dist-packages; an install into
  # another prefix needs PYTHONPATH (and, like the tool, LD_LIBRARY_PATH for the library).
  set(QUARROW2_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
      "Where cmake --install puts the package quarrow2, under the prefix unless absolute")
endif()
install(TARGETS quarrow2_python LIBRARY DESTINATION ${QUARROW2_PYTHON_INSTALL_DIR}/quarrow2
        COMPONENT python)
install(FILES ${QUARROW2_PYTHON_FILES} DESTINATION ${QUARROW2_PYTHON_INSTALL_DIR}/quarrow2 COMPONENT python)

# The module's tests, one CTest test per file, with pytest. Under AddressSanitizer the
# library and the extension carry it, so the interpreter (built without it) starts with the
# sanitizer's runtime preloaded; CPython keeps memory for its own lifetime, so the leak
# checker stays off there and the suite's own memory test watches for leaks instead.
if(QUARROW2_BUILD_TESTS)
  set(quarrow2_python_env
      "PYTHONPATH=${CMAKE_BINARY_DIR}/python" "PYTHONDONTWRITEBYTECODE=1"
      "QUARROW2_TOOL=$<TARGET_FILE:quarrow2_tool>" "QUARROW2_SANITIZE=${QUARROW2_SANITIZE}")
  if(QUARROW2_SANITIZE MATCHES "address")
    # The C++ runtime too, or the sanitizer finds no __cxa_throw to forward to (the
    # interpreter does not link it) and aborts at the first exception thrown.
    set(quarrow2_preload)
    foreach(runtime libasan.so libstdc++.so)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      list(APPEND quarrow2_preload ${path})
    endforeach()
    list(JOIN quarrow2_preload ":" quarrow2_preload)
    list(APPEND quarrow2_python_env "LD_PRELOAD=${quarrow2_preload}" "ASAN_OPTIONS=detect_leaks=0")
  endif()
  foreach(suite mapping objects peers threads)
    set(name ${QUARROW2_TEST_PREFIX}python.${suite})
    # -rs lists each skip with its reason; exit status 5 (nothing collected) fails. A Python
    # without pytest skips the suite, naming that Python.
    add_test(NAME ${name}
             COMMAND sh -c "\"$0\" -c 'import pytest' 2>/dev/null || { echo \"skipped: no pytest for $0\"; exit 77; }; exec \"$0\" -m pytest \"$@\""
                     ${Python3_EXECUTABLE} -q -rs -p no:cacheprovider
                     ${PROJECT_SOURCE_DIR}/tests/python/test_${suite}.py)
    # The objects' suite builds the module with pip twice (a wheel, and into a venv).
    if(suite STREQUAL "objects")
      set(timeout 1800)
    else()
      set(timeout 600)
    endif()
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT ${timeout}
                         ENVIRONMENT "${quarrow2_python_env}")
  endforeach()

  # The README's Python example, on a new file.
  set(example_file ${CMAKE_BINARY_DIR}/examples-scratch/hello-python.txt)
  add_test(NAME ${QUARROW2_TEST_PREFIX}examples.hello_metadata_py
           COMMAND sh -c "mkdir -p \"$(dirname \"$1\")\" && rm -f \"$1\" && exec \"$0\" \"$2\" \"$1\""
                   ${Python3_EXECUTABLE} ${example_file} ${PROJECT_SOURCE_DIR}/examples/hello_metadata.py)
  set_tests_properties(${QUARROW2_TEST_PREFIX}examples.hello_metadata_py PROPERTIES
    ENVIRONMENT "${quarrow2_python_env}"
    PASS_REGULAR_EXPRESSION "Author: Jane Doe \\(16 bytes\\)\nitem: Author\n\\['Author', 'Rating'\\] Jane Doe b'\\\\x05'\nQuarrow2.File.1: Unable to open metadata. The system cannot find the file specified. \\(errno 2, winerror 2\\)\n$")
endif()
