# Warning flags for our own targets: murmex3_warnings(<target>)
function(murmex3_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
        -Wno-sign-conversion -Wnon-virtual-dtor -Woverloaded-virtual)
    if(MURMEX3_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
