# The Windows build: the shipped programs, the wine tier and the e2e tier.
enable_language(RC)
# Every program of this build is for Windows 7's headers and later.
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(MANIFEST_ARCH amd64)
else()
    set(MANIFEST_ARCH X86)
endif()
# The manifest carries the version that base/program.h writes down once.
file(STRINGS ${CMAKE_SOURCE_DIR}/base/program.h version_line REGEX "define PROGRAM_VERSION_DOTTED")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+" PROGRAM_VERSION "${version_line}")
configure_file(${CMAKE_SOURCE_DIR}/resources/pendulark.manifest.in ${CMAKE_BINARY_DIR}/pendulark.manifest @ONLY)
# windres reads the icons and the manifest too, but CMake looks only for #include.
set_source_files_properties(resources/pendulark.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/pendulark.ico;${CMAKE_SOURCE_DIR}/resources/notice.ico;${CMAKE_BINARY_DIR}/pendulark.manifest")
set_source_files_properties(resources/sumwick.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/sumwick.ico;${CMAKE_SOURCE_DIR}/resources/sumwick.manifest")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources -I${CMAKE_BINARY_DIR}")
set(STATIC_LINK -static -static-libgcc -static-libstdc++ -s)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# What draws with GDI or uses the clipboard is built for Windows alone.
add_library(core STATIC ${CORE_SOURCES} os/task_scheduler.cpp os/logon_task.cpp os/resolver.cpp os/address_text.cpp
    dialogs/history_window.cpp shell/service_window.cpp)
target_link_libraries(core PUBLIC ws2_32 advapi32 shell32 user32 gdi32 comctl32 ole32 oleaut32)

add_executable(Pendulark WIN32
    shell/startup.cpp
    shell/service_main.cpp
    shell/service_control.cpp
    shell/main_window_proc.cpp
    resources/pendulark.rc)
target_link_libraries(Pendulark PRIVATE core)
target_link_options(Pendulark PRIVATE ${STATIC_LINK})

option(PENDULARK_TESTS "Build the wine and e2e tiers" OFF)
if(PENDULARK_TESTS)
    include(cmake/wine_tests.cmake)
    # The bare accept-send-close loop that the bench sets the time server against;
    # the bench's loops are built by `make bench` alone.
    add_executable(bare_time_server EXCLUDE_FROM_ALL tests/bench/bare_time_server.cpp)
    target_link_libraries(bare_time_server PRIVATE ws2_32)
    target_link_options(bare_time_server PRIVATE ${STATIC_LINK})
    # And the bare receive-send loop that its SNTP side is set against.
    add_executable(bare_sntp_server EXCLUDE_FROM_ALL tests/bench/bare_sntp_server.cpp)
    target_link_libraries(bare_sntp_server PRIVATE ws2_32)
    target_link_options(bare_sntp_server PRIVATE ${STATIC_LINK})
    # And the bare SNTP client that sets the floor of the accuracy.
    add_executable(bare_sntp_client EXCLUDE_FROM_ALL tests/bench/bare_sntp_client.cpp)
    target_link_libraries(bare_sntp_client PRIVATE ws2_32)
    target_link_options(bare_sntp_client PRIVATE ${STATIC_LINK})
endif()
include(cmake/sumwick.cmake)
