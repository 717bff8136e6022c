# What the engine and the test probes build alike: the language settings,
# Python and GMP, the sanitizer option and `qf_add_module`. Included by the
# top-level CMakeLists.txt and by each probe's, after their project().

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

find_package(Python 3.11 REQUIRED COMPONENTS Interpreter Development.SABIModule)

find_path(GMP_INCLUDE_DIR gmpxx.h)
find_library(GMP_LIBRARY gmp)
find_library(GMPXX_LIBRARY gmpxx)
if(NOT GMP_INCLUDE_DIR OR NOT GMP_LIBRARY OR NOT GMPXX_LIBRARY)
  message(FATAL_ERROR "GMP with its C++ interface is required (Debian: libgmp-dev)")
endif()

option(QF_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# Our own builds (tools/) turn warnings into errors; an install from source
# keeps them warnings, so a newer compiler's new warnings cannot stop it.
option(QF_WERROR "Treat compiler warnings as errors" OFF)

# The engine's sources: the include root, and where probes glob from.
get_filename_component(QF_SRC "${CMAKE_CURRENT_LIST_DIR}/../src" ABSOLUTE)
set(QF_EXPORTS_MAP "${CMAKE_CURRENT_LIST_DIR}/exports.map")

# qf_add_module(NAME SOURCE...): an abi3 extension module NAME built from the
# sources against src/ and GMP; a warning fails the build with QF_WERROR. With the
# sanitizers when QF_SANITIZE is on; a Debug build keeps assertions, the
# standard library's included.
function(qf_add_module name)
  Python_add_library(${name} MODULE USE_SABI 3.11 WITH_SOABI ${ARGN})
  target_include_directories(${name} PRIVATE ${QF_SRC} ${GMP_INCLUDE_DIR})
  target_compile_options(${name} PRIVATE -Wall -Wextra -fvisibility=hidden)
  if(QF_WERROR)
    target_compile_options(${name} PRIVATE -Werror)
  endif()
  target_compile_definitions(${name} PRIVATE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
  target_link_libraries(${name} PRIVATE ${GMPXX_LIBRARY} ${GMP_LIBRARY} m)
  # Only the init function is exported (cmake/exports.map).
  target_link_options(${name} PRIVATE -Wl,--version-script=${QF_EXPORTS_MAP})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${QF_EXPORTS_MAP})
  # A forced unwind (pthread_exit, pthread_cancel) runs none of our frames:
  # every reference to the C++ personality routine goes to the wrapper in
  # py/thread_exit.cpp.
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_sources(${name} PRIVATE ${QF_SRC}/py/thread_exit.cpp)
    target_link_options(${name} PRIVATE -Wl,--wrap=__gxx_personality_v0)
  endif()
  if(QF_SANITIZE)
    target_compile_options(${name} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined -O1 -g)
    target_link_options(${name} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
