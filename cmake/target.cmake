# The firmware for the ATSAML21J18B: a footprint image linked against the
# chip's memory map. Included by the top-level CMakeLists.txt when
# KTR09_TARGET is cortex-m0plus; the host platform, simulator and tests are
# not built here.

target_include_directories(ktr09_firmware PUBLIC ${PROJECT_SOURCE_DIR}/platform/target/include)

# The start-up code goes straight into the image (a library member nothing
# refers to would be left out); the board services form the library.
set(KTR09_STARTUP_SOURCE ${PROJECT_SOURCE_DIR}/platform/target/src/startup.cpp)
file(GLOB KTR09_TARGET_PLATFORM_SOURCES CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/platform/target/src/*.cpp ${PROJECT_SOURCE_DIR}/platform/common/*.cpp)
list(REMOVE_ITEM KTR09_TARGET_PLATFORM_SOURCES ${KTR09_STARTUP_SOURCE})
add_library(ktr09_platform_target STATIC ${KTR09_TARGET_PLATFORM_SOURCES})
target_include_directories(ktr09_platform_target PUBLIC ${PROJECT_SOURCE_DIR}/platform/include
                                                        ${PROJECT_SOURCE_DIR}/platform/target/include)
target_compile_options(ktr09_platform_target PRIVATE -Wall -Wextra -Werror)

set(KTR09_LINKER_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/saml21j18b.ld)
set(KTR09_MAP_FILE ${CMAKE_CURRENT_BINARY_DIR}/ktr09-footprint.map)

# The firmware and the platform call each other (setup, loop and TC0_Handler
# one way, the board services the other), hence the link group.
add_executable(ktr09-footprint.elf ${KTR09_STARTUP_SOURCE})
target_compile_options(ktr09-footprint.elf PRIVATE -Wall -Wextra -Werror)
set_target_properties(ktr09-footprint.elf PROPERTIES LINK_DEPENDS ${KTR09_LINKER_SCRIPT})
target_link_libraries(ktr09-footprint.elf PRIVATE
    -Wl,--start-group ktr09_firmware ktr09_platform_target -Wl,--end-group)
target_link_options(ktr09-footprint.elf PRIVATE
    -T${KTR09_LINKER_SCRIPT}
    -nostartfiles
    -Wl,--gc-sections,--print-memory-usage
    -Wl,-Map=${KTR09_MAP_FILE}
    -Wl,--no-warn-rwx-segments)

# Each function's frame (.su) and the calls it makes (.ci) for the stack
# depth analysis of scripts/footprint; the code is the same without them.
foreach(target ktr09_firmware ktr09_platform_target ktr09-footprint.elf)
    target_compile_options(${target} PRIVATE -fstack-usage -fcallgraph-info=su)
endforeach()

add_custom_command(TARGET ktr09-footprint.elf POST_BUILD
    COMMAND ${CMAKE_SIZE} -A -d $<TARGET_FILE:ktr09-footprint.elf>
    COMMAND ${CMAKE_SIZE} -B -d $<TARGET_FILE:ktr09-footprint.elf>
    COMMAND ${CMAKE_COMMAND} -E echo
        "note: platform drivers are placeholders; figures cover the station firmware only"
    VERBATIM)
