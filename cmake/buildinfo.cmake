# Writes buildinfo.h (the project version and the commit it was built from) only when its content changes, so a
# build after a new commit recompiles the few files that print the version and nothing else.
# Called at build time: cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=... -P buildinfo.cmake
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
    set(commit "unknown")
else()
    execute_process(COMMAND git -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
        OUTPUT_VARIABLE dirty OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT dirty STREQUAL "")
        string(APPEND commit "-modified")
    endif()
endif()
set(content "#pragma once\n// Generated at build time by cmake/buildinfo.cmake.\n\nnamespace unplot::buildinfo {\ninline constexpr const char* kVersion = \"${VERSION}\";\ninline constexpr const char* kCommit = \"${commit}\";\n} // namespace unplot::buildinfo\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
    file(WRITE "${OUTPUT}" "${content}")
endif()
