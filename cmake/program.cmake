# The program itself: no C or C++ runtime, its own entry point, GUI
# subsystem, only system DLLs. yygate_program() builds one such executable
# from the program's sources plus any extra sources (a test build adds a seam).

set(YYGATE_SOURCES
    ${YYGATE_PORTABLE_SOURCES}
    ${CMAKE_SOURCE_DIR}/src/frame/heap.cpp
    ${CMAKE_SOURCE_DIR}/src/frame/lifetime.cpp
    ${CMAKE_SOURCE_DIR}/src/frame/start.cpp
    ${CMAKE_SOURCE_DIR}/src/text/file_exists.cpp
    ${CMAKE_SOURCE_DIR}/src/text/program_location.cpp
    ${CMAKE_SOURCE_DIR}/src/gate/host_folder.cpp
    ${CMAKE_SOURCE_DIR}/src/gate/registry.cpp
    ${CMAKE_SOURCE_DIR}/src/gate/repeat_run.cpp
    ${CMAKE_SOURCE_DIR}/src/handshake/temp_copy_signal.cpp)

set(YYGATE_ICON ${CMAKE_BINARY_DIR}/generated/yygate.ico)
add_custom_command(
    OUTPUT ${YYGATE_ICON}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/assets/make_icon.py ${YYGATE_ICON}
    DEPENDS ${CMAKE_SOURCE_DIR}/assets/make_icon.py
    COMMENT "Drawing the program icon")
add_custom_target(yygate_icon DEPENDS ${YYGATE_ICON})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(YYGATE_ENTRY _ProgramEntry@0) # __stdcall, no arguments
    # The 32-bit Windows ABI keeps the stack 4-byte aligned.
    set(YYGATE_ARCH_OPTIONS -mpreferred-stack-boundary=2)
else()
    set(YYGATE_ENTRY ProgramEntry)
    set(YYGATE_ARCH_OPTIONS)
endif()

# Whole-program optimisation for size: the shipped file must stay within 8 KiB.
set(YYGATE_COMPILE_OPTIONS
    -Os -flto -Wall -Wextra -Werror ${YYGATE_ARCH_OPTIONS}
    -fomit-frame-pointer -fno-jump-tables
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -fno-builtin -fno-tree-loop-distribute-patterns
    -mno-stack-arg-probe -ffunction-sections -fdata-sections)

set(YYGATE_LINK_OPTIONS
    -Os -flto -nostdlib -nostartfiles -Wl,-e,${YYGATE_ENTRY} -Wl,--subsystem,windows
    -s -Wl,--gc-sections -Wl,--no-insert-timestamp -Wl,--build-id=none)

function(yygate_program target)
    add_executable(${target} ${YYGATE_SOURCES} ${ARGN}
        ${CMAKE_SOURCE_DIR}/assets/yygate.rc)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/assets/yygate.rc PROPERTIES
        OBJECT_DEPENDS ${YYGATE_ICON})
    add_dependencies(${target} yygate_icon)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:${YYGATE_COMPILE_OPTIONS}>
        $<$<COMPILE_LANGUAGE:RC>:-I${CMAKE_BINARY_DIR}/generated>)
    target_link_options(${target} PRIVATE ${YYGATE_LINK_OPTIONS})
    target_link_libraries(${target} PRIVATE kernel32 user32 advapi32)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()

yygate_program(yygate)
