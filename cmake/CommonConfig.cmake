# Compiler settings shared by every target of the project.
add_library(pikora_compile_options INTERFACE)
target_compile_features(pikora_compile_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(pikora_compile_options INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
option(PIKORA_WERROR "Treat warnings as errors" OFF)
if(PIKORA_WERROR)
    target_compile_options(pikora_compile_options INTERFACE -Werror)
endif()
target_compile_definitions(pikora_compile_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

# Developer machines with ccache reuse objects across work trees; CI builds without it.
find_program(PIKORA_CCACHE ccache)
if(PIKORA_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${PIKORA_CCACHE})
endif()

# `make check-sanitized` and `make fuzz` build in a folder of their own with this on; the normal
# build never pays for it. -O1 keeps the suites fast enough under the sanitizers and the stacks
# readable.
option(PIKORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(PIKORA_SANITIZE)
    set(PIKORA_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
    target_compile_options(pikora_compile_options INTERFACE ${PIKORA_SANITIZER_FLAGS} -O1 -fno-omit-frame-pointer)
    target_link_options(pikora_compile_options INTERFACE ${PIKORA_SANITIZER_FLAGS})
    target_compile_definitions(pikora_compile_options INTERFACE PIKORA_ADDRESS_SANITIZER)
endif()

# libFuzzer targets (fuzz/), clang only; meant for the sanitized build folder.
option(PIKORA_FUZZ "Build the libFuzzer targets of the parsers of outside bytes" OFF)
if(PIKORA_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PIKORA_FUZZ needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
endif()
