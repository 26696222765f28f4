# Warnings and sanitizers, applied per target through INTERFACE libraries:
#   target_link_libraries(x PRIVATE project_warnings)
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion
    $<$<BOOL:${UNPLOT_WERROR}>:-Werror>)

if(UNPLOT_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
    add_compile_definitions(UNPLOT_SANITIZED)  # for the few tests whose measure the sanitizers change
endif()

# The fuzz targets under fuzz/ (clang with libFuzzer): everything they link is built with its coverage feedback.
option(UNPLOT_FUZZ "Build the libFuzzer targets under fuzz/ (needs clang)" OFF)
if(UNPLOT_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Tests that need ../shared (the corpus, the reference drawings) find it here; they skip when it is absent.
get_filename_component(UNPLOT_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)

# The Python interpreter that sees Debian's python3-* packages (ezdxf, werkzeug).
set(UNPLOT_SYSTEM_PYTHON /usr/bin/python3)
include(GoogleTest)
