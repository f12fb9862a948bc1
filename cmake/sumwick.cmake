# Sumwick, the digest calculator: its window for Windows, its portable routine
# for the native tier.
# The MD5 routine is the core's too (an IPv6 upstream's reference id), and
# comes with it in the native build.
set(DIGEST_SOURCES digest/digest_form.cpp)

if(WIN32)
    add_executable(Sumwick WIN32 ${DIGEST_SOURCES} digest/md5.cpp digest/sumwick.cpp resources/sumwick.rc)
    target_link_libraries(Sumwick PRIVATE user32 gdi32)
    target_link_options(Sumwick PRIVATE ${STATIC_LINK})

    # Drives windows of other processes from the command line, for the e2e tier.
    add_executable(winctl tests/e2e/winctl.cpp)
    target_link_libraries(winctl PRIVATE user32 shell32 advapi32)
    target_link_options(winctl PRIVATE -municode ${STATIC_LINK})
else()
    add_library(digest STATIC ${DIGEST_SOURCES})
    find_package(OpenSSL REQUIRED COMPONENTS Crypto)
    foreach(tests native_tests threaded_tests)
        if(TARGET ${tests})
            target_link_libraries(${tests} PRIVATE digest OpenSSL::Crypto)
        endif()
    endforeach()

    # Timed without sanitizers and optimised, or the comparison says nothing.
    find_package(benchmark REQUIRED)
    # Built by `make bench` alone: no test tier runs it.
    add_executable(md5_bench EXCLUDE_FROM_ALL tests/bench/md5_bench.cpp digest/md5.cpp)
    target_compile_options(md5_bench PRIVATE -O2 -fno-sanitize=all)
    target_link_options(md5_bench PRIVATE -fno-sanitize=all)
    target_link_libraries(md5_bench PRIVATE benchmark::benchmark OpenSSL::Crypto)
endif()
