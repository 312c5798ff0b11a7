# Cross-compiling for the ATSAML21J18B (Cortex-M0+) with the GNU Arm
# Embedded toolchain and newlib.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR cortex-m0plus)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_SIZE arm-none-eabi-size CACHE FILEPATH "size tool of the toolchain")
set(CMAKE_OBJCOPY arm-none-eabi-objcopy CACHE FILEPATH "objcopy of the toolchain")

# Compiler checks cannot link a program without a linker script.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(KTR09_CPU_FLAGS "-mcpu=cortex-m0plus -mthumb")
set(CMAKE_C_FLAGS_INIT "${KTR09_CPU_FLAGS} -Os -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT
    "${KTR09_CPU_FLAGS} -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti \
-fno-threadsafe-statics -fno-use-cxa-atexit")
set(CMAKE_ASM_FLAGS_INIT "${KTR09_CPU_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KTR09_CPU_FLAGS} --specs=nano.specs --specs=nosys.specs")

# The chip's own build: no host programs, headers or libraries.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
