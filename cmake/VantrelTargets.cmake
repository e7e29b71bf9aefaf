# Shared build settings and helpers for every Vantrel target.
include(GenerateExportHeader)

add_library(vantrel_build INTERFACE)
target_compile_options(vantrel_build INTERFACE -Wall -Wextra -Werror)
if(VANTREL_SANITIZE STREQUAL "address")
  target_compile_options(vantrel_build INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(vantrel_build INTERFACE -fsanitize=address,undefined)
elseif(VANTREL_SANITIZE STREQUAL "thread")
  target_compile_options(vantrel_build INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(vantrel_build INTERFACE -fsanitize=thread)
elseif(NOT VANTREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VANTREL_SANITIZE must be empty, 'address' or 'thread'")
endif()

# vantrel_library(<name> SHARED|STATIC SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# Public headers live in <name>/include/<name>/; a shared library also gets
# <name>/<name>_export.h with the <NAME>_EXPORT macro.
function(vantrel_library name kind)
  cmake_parse_arguments(arg "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} ${kind} ${arg_SOURCES})
  target_include_directories(${name} PUBLIC
    ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_BINARY_DIR}/include)
  target_link_libraries(${name} PUBLIC ${arg_DEPS} PRIVATE vantrel_build ${arg_PRIVATE_DEPS})
  if(kind STREQUAL "SHARED")
    set_property(GLOBAL APPEND PROPERTY VANTREL_SHARED_LIBRARIES ${name})
    generate_export_header(${name}
      EXPORT_FILE_NAME ${CMAKE_CURRENT_BINARY_DIR}/include/${name}/${name}_export.h)
  endif()
endfunction()

# vantrel_test(<name> SOURCES ... [QT] [LIBS ...] [INCLUDES ...] [LABELS ...] [TIMEOUT s])
# One test executable registered with CTest: a GoogleTest program, or with QT a QTest program
# (its own main, moc run, default label gui). Widgets always run offscreen.
function(vantrel_test name)
  cmake_parse_arguments(arg "QT" "TIMEOUT" "SOURCES;LIBS;INCLUDES;LABELS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_include_directories(${name} PRIVATE ${arg_INCLUDES})
  if(arg_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE vantrel_build vantrel_testkit ${arg_LIBS} Qt6::Test)
    set(default_label gui)
  else()
    target_link_libraries(${name} PRIVATE vantrel_build vantrel_testkit ${arg_LIBS}
                          GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    set(default_label unit)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  if(NOT arg_LABELS)
    set(arg_LABELS ${default_label})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${arg_LABELS}" TIMEOUT ${arg_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
