# project_windows_resources(TARGET DESCRIPTION)
# Gives a Windows program its icon, its version information (the project's version,
# product "Ondaspa", DESCRIPTION as the file's description) and its manifest.
# Does nothing on other systems.
function(project_windows_resources target description)
    if(NOT WIN32)
        return()
    endif()
    set(ONDASPA_PROGRAM ${target})
    set(ONDASPA_DESCRIPTION "${description}")
    set(ONDASPA_ICON ${PROJECT_SOURCE_DIR}/resources/icons/ondaspa.ico)
    set(ONDASPA_MANIFEST ${PROJECT_SOURCE_DIR}/resources/windows/program.manifest)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/resources/windows/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
