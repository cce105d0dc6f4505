# Warning flags for our own targets, per compiler: murmex3_warnings(<target>).
# GCC and Clang share one set; MinGW-w64 is GCC, so the Windows build gets the
# warnings of the Linux build. MSVC gets the nearest equivalents.
function(murmex3_warnings target)
    if(MSVC)
        # /W4 covers shadowing (C4456-C4459) and most narrowing (C4244); the
        # rest are off by default: C4242/C4254 narrowing, C4263/C4264 hidden
        # virtual functions, C4265 a virtual class without a virtual destructor.
        target_compile_options(${target} PRIVATE /W4 /permissive- /w14242 /w14254 /w14263
            /w14264 /w14265)
        if(MURMEX3_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
            -Wno-sign-conversion -Wnon-virtual-dtor -Woverloaded-virtual)
        if(MURMEX3_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()
