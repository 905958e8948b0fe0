# sources_of(VAR ROOT FOLDERS)
# Sets VAR to every .cpp directly in each of FOLDERS (a list) below ROOT.
function(sources_of var root folders)
  set(sources)
  foreach(folder IN LISTS folders)
    file(GLOB found CONFIGURE_DEPENDS ${root}/${folder}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  set(${var} ${sources} PARENT_SCOPE)
endfunction()

# project_library(NAME FOLDERS DEPS...)
# A static library of every .cpp in FOLDERS (a list) except main.cpp; an
# interface library while the folders hold headers only.
function(project_library name folders)
  sources_of(sources ${PROJECT_SOURCE_DIR} "${folders}")
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# project_test(NAME FOLDERS LIBS...)
# One GoogleTest program of every .cpp in FOLDERS (a list); each test case is
# its own CTest test so that CTest can run them in parallel.
function(project_test name folders)
  sources_of(sources ${CMAKE_CURRENT_SOURCE_DIR} "${folders}")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} test_support GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 120 ENVIRONMENT "TEST_TOOLS_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
