# The native build against the simulated machine of tests/sim/, with sanitizers.
set(PENDULARK_SANITIZE "address,undefined" CACHE STRING "Sanitizers of the native build")
if(PENDULARK_SANITIZE)
    add_compile_options(-fsanitize=${PENDULARK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${PENDULARK_SANITIZE})
endif()

# The simulated machine serves the native tests and fuzzers alone, so it lives
# beside them; the components link it in place of Windows, with the part of os/
# that is the same on both.
file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/sim/*.cpp)
add_library(sim STATIC ${SIM_SOURCES} os/logon_task.cpp os/address_text.cpp)
add_library(core STATIC ${CORE_SOURCES})
target_link_libraries(core PUBLIC sim)
# The tests' one way back to the program's start state.
add_library(program_state STATIC tests/program_state.cpp)
target_link_libraries(program_state PUBLIC core)
find_package(Threads REQUIRED)
target_link_libraries(sim PUBLIC Threads::Threads)

# With clang the tests' build holds the fuzz targets too, its code instrumented
# for them, so that the same sources are not compiled a second time for them.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND PENDULARK_SANITIZE MATCHES "address")
    include(cmake/fuzz.cmake)
endif()

find_package(GTest REQUIRED)
file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${NATIVE_TESTS})
# Every test file begins with GoogleTest's header, the larger part of its
# compile; the files keep their own units, whose statics share names.
target_precompile_headers(native_tests PRIVATE <gtest/gtest.h>)
set_target_properties(native_tests PROPERTIES UNITY_BUILD OFF)
target_link_libraries(native_tests PRIVATE core program_state GTest::gtest GTest::gtest_main)
# Eight processes at once, each with its share of the tests (see run-shards.sh).
add_test(NAME native_tests COMMAND ${CMAKE_SOURCE_DIR}/tests/run-shards.sh $<TARGET_FILE:native_tests> 8)
set_tests_properties(native_tests PROPERTIES TIMEOUT 300)

# The ThreadSanitizer run takes only the files that hold a threaded suite,
# found anew at every configure: the rest would be compiled for nothing.
foreach(source ${NATIVE_TESTS})
    file(STRINGS ${source} threaded REGEX "^TEST(_F)?\\(Threaded" LIMIT_COUNT 1)
    if(threaded)
        list(APPEND THREADED_TESTS ${source})
    endif()
endforeach()
add_executable(threaded_tests EXCLUDE_FROM_ALL ${THREADED_TESTS})
target_precompile_headers(threaded_tests PRIVATE <gtest/gtest.h>)
set_target_properties(threaded_tests PROPERTIES UNITY_BUILD OFF)
target_link_libraries(threaded_tests PRIVATE core program_state GTest::gtest GTest::gtest_main)
# A simulated week of the clock's discipline against stepping only: built by
# `make bench` alone.
add_executable(clock_discipline_bench EXCLUDE_FROM_ALL tests/bench/clock_discipline_bench.cpp)
target_link_libraries(clock_discipline_bench PRIVATE core program_state)
include(cmake/sumwick.cmake)
