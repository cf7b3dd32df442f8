# project_add_test(NAME SOURCES src... [LIBS lib...] [TIMEOUT seconds] [RESOURCE_LOCK lock...]
#                  [ON_TERMINAL])
# Builds a QtTest executable and registers it with CTest under the offscreen
# platform, so window tests run without a display. ON_TERMINAL: under an
# emulator (wine), the test starts on a terminal, which gives it a console.
function(project_add_test name)
    cmake_parse_arguments(ARG "ON_TERMINAL" "TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
    if(ARG_ON_TERMINAL AND CMAKE_CROSSCOMPILING_EMULATOR)
        add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/common/on-terminal.sh
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()
