# One place for the warning set, so every target of ours builds with the same flags.
function(pictova_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
    if(PICTOVA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# A test executable of one layer, discovered by CTest.
function(pictova_test target)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    pictova_warnings(${target})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} pictova_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${target}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        PROPERTIES ENVIRONMENT "PICTOVA_SOURCE_DIR=${PROJECT_SOURCE_DIR};PICTOVA_BINARY_DIR=${PROJECT_BINARY_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
        DISCOVERY_TIMEOUT 60)
endfunction()
