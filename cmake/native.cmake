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

option(PENDULARK_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(PENDULARK_FUZZ)
    include(cmake/fuzz.cmake)
    return()
endif()

find_package(GTest REQUIRED)
file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${NATIVE_TESTS})
target_link_libraries(native_tests PRIVATE core program_state GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
include(cmake/sumwick.cmake)
