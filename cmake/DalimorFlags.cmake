# Warning, sanitizer and helper settings shared by every target.

set(DALIMOR_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
# MinGW's GCC 12, optimising, reports std::string concatenations as
# overlapping copies (GCC bug 105329) and strings in aggregate tables as
# maybe uninitialised: false positives of that compiler.
if(MINGW)
  list(APPEND DALIMOR_WARNINGS -Wno-restrict -Wno-maybe-uninitialized)
endif()
if(DALIMOR_WERROR)
  list(APPEND DALIMOR_WARNINGS -Werror)
endif()

if(DALIMOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Fuzz builds instrument the libraries too, so that libFuzzer sees coverage
# of the code under test and not only of the fuzz target itself.
if(DALIMOR_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# dalimor_library(name folder): one static library from every .cpp in the folder.
# Sources are globbed so that a new file needs no edit here.
function(dalimor_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${DALIMOR_WARNINGS})
endfunction()

# dalimor_test(name folder libs...): one GoogleTest binary from every .cpp in a tests folder.
function(dalimor_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} dalimor_testsupport GTest::gtest_main)
  target_compile_options(${name} PRIVATE ${DALIMOR_WARNINGS})
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator (Wine) every start of a program costs a good part of
    # a second: one CTest entry per program, not per test.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "DALIMOR_FIXTURES=${DALIMOR_FIXTURES_DIR}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "DALIMOR_FIXTURES=${DALIMOR_FIXTURES_DIR}")
  endif()
endfunction()
