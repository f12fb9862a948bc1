# The wine tier: GoogleTest cross-built from Debian's sources, run by CTest
# through Wine in a throwaway prefix.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${GTEST_SOURCE_DIR}: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its speed matters to nobody; its compile at -O3 was a quarter of the tests'.
target_compile_options(gtest PRIVATE -O0)

file(GLOB WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.cpp)
# The main window's class and template, so the tests can make the real window.
add_executable(wine_tests ${WINE_TESTS} ${CMAKE_SOURCE_DIR}/tests/program_state.cpp
    ${CMAKE_SOURCE_DIR}/shell/main_window_proc.cpp ${CMAKE_SOURCE_DIR}/resources/pendulark.rc)
target_link_libraries(wine_tests PRIVATE core gtest gtest_main)
target_link_options(wine_tests PRIVATE -static -static-libgcc -static-libstdc++)

# One Wine start for the whole suite; each start costs seconds.
set(WINE_RUN ${CMAKE_SOURCE_DIR}/tests/wine/wine-run.sh)
add_test(NAME wine_tests COMMAND ${WINE_RUN} $<TARGET_FILE:wine_tests>)
set_tests_properties(wine_tests PROPERTIES TIMEOUT 300)
# Away from bin/, so that looking for the program finds the one a test puts down.
set_target_properties(wine_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
