# murmex3_manual_page(TARGET PAGE): docs/PAGE compressed as Debian keeps manual
# pages, built by TARGET (with everything) and installed into section 1.
function(murmex3_manual_page target page)
    if(NOT UNIX OR APPLE)
        return()
    endif()
    set(manual ${CMAKE_CURRENT_BINARY_DIR}/${page})
    add_custom_command(
        OUTPUT ${manual}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${page} ${manual}
        COMMAND gzip -9nf ${manual}
        DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${manual}.gz)
    install(FILES ${manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
