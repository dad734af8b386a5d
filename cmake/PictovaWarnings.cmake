# One place for the warning set, so every target of ours builds with the same flags.
function(pictova_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
    if(PICTOVA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# The leak checker's suppressions for Debian libraries, built into an executable rather than
# passed through CTest's environment (which keeps only the first of several variables for
# discovered tests), so a program run by hand behaves the same. Only sanitizer builds need it.
function(pictova_leak_suppressions target)
    if(PICTOVA_SANITIZE)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/LsanOptions.cpp)
        target_compile_definitions(${target} PRIVATE
            PICTOVA_LSAN_SUPPRESSIONS="${PROJECT_SOURCE_DIR}/tests/lsan.supp")
    endif()
endfunction()

# A test executable of one layer, discovered by CTest.
function(pictova_test target)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    pictova_warnings(${target})
    pictova_leak_suppressions(${target})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} pictova_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${target}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        DISCOVERY_TIMEOUT 60)
endfunction()
