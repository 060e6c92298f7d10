# Our own code builds without warnings; third-party headers come in as -isystem.
function(halden_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# A static library for one source folder: sources are the folder's .cpp files.
function(halden_library name)
    cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    halden_warnings(${name})
endfunction()
