# project_add_test(NAME SOURCES src... [LIBS lib...] [TIMEOUT seconds] [RESOURCE_LOCK lock...]
#                  [WINDOWS] [ON_TERMINAL])
# Builds a QtTest executable and registers it with CTest under the offscreen
# platform, so window tests run without a display. WINDOWS: the test needs
# nothing of Linux (namespaces, rlimits, fork, tmpfs), so the Windows build
# has it too; other tests are left out there. ON_TERMINAL: under an emulator
# (wine), the test starts on a terminal, which gives it a console.
function(project_add_test name)
    cmake_parse_arguments(ARG "WINDOWS;ON_TERMINAL" "TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
    if(WIN32 AND NOT ARG_WINDOWS)
        return()
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    # One source file with its moc: nothing to batch in a unity build, and GCC would take
    # the file's own test class for one in a header (-Wsubobject-linkage).
    set_target_properties(${name} PROPERTIES UNITY_BUILD OFF)
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        set(start)
        if(ARG_ON_TERMINAL)
            set(start --terminal)
        endif()
        add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/common/wine-qtest.sh ${start}
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    # A data folder of the test's own: runs that tests make never reach the user's history.
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data/${name}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()
