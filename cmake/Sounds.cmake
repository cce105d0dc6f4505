# Event sounds, generated at build time.
#
# murmex3_sounds(<target-name> <output-dir>)
#   Builds the GenerateSounds tool and adds the target <target-name> (part of the
#   default build) that writes the eight wave files into <output-dir>/Sounds/Standard.
#   <output-dir>/Sounds is installed to ${CMAKE_INSTALL_DATADIR}/murmex3.

include(GNUInstallDirs)
if(NOT COMMAND murmex3_warnings)
    include(${CMAKE_CURRENT_LIST_DIR}/Warnings.cmake)
endif()

function(murmex3_sounds target output_dir)
    if(NOT TARGET GenerateSounds)
        add_executable(GenerateSounds ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tools/GenerateSounds.cpp)
        murmex3_warnings(GenerateSounds)
    endif()

    set(folder ${output_dir}/Sounds/Standard)
    set(files)
    foreach(name Away Lunch online offline message DND Bell SmallMsg)
        list(APPEND files ${folder}/${name}.wav)
    endforeach()

    add_custom_command(
        OUTPUT ${files}
        COMMAND GenerateSounds ${folder}
        DEPENDS GenerateSounds
        COMMENT "Generating event sounds in ${folder}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${files})

    install(DIRECTORY ${output_dir}/Sounds DESTINATION ${CMAKE_INSTALL_DATADIR}/murmex3)
endfunction()
