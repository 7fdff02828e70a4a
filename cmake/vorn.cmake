# vorn_subsystem(NAME DIR): one static library per subsystem folder, so a
# test suite links only the subsystems it needs and half-finished work in
# another subsystem never stops it from building.
# Vector kernels live in DIR/x86/<kernel>_<isa>.cc and get their ISA flags here.
function(vorn_subsystem name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cc)
  set(vec "")
  if(VORN_X86)
    file(GLOB vec CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/x86/*.cc)
    # AVX-512 kernels only in 64-bit builds: the 32-bit one gains little from
    # them and its stack is not kept aligned for 64-byte spills.
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
      list(FILTER vec EXCLUDE REGEX "_avx512\\.cc$")
    endif()
    foreach(f ${vec})
      if(f MATCHES "_avx512\\.cc$")
        set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS
          "-mavx512f;-mavx512bw;-mavx512dq;-mavx512vl;-mavx512vbmi;-mavx2;-mfma;-mbmi2")
      elseif(f MATCHES "_avx2\\.cc$")
        set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma;-mbmi2")
      elseif(f MATCHES "_ssse3\\.cc$")
        set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS "-mssse3")
      elseif(f MATCHES "_sse41\\.cc$")
        set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS "-msse4.1")
      else()
        set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS "-msse2")
      endif()
    endforeach()
  endif()
  add_library(${name} STATIC ${srcs} ${vec} ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include)
  target_compile_options(${name} PRIVATE ${VORN_PRODUCT_FLAGS})
  if(VORN_X86)
    target_compile_definitions(${name} PUBLIC VORN_X86=1)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      target_compile_definitions(${name} PUBLIC VORN_AVX512=1)
    endif()
  endif()
endfunction()

# vorn_test(NAME [SCREEN] SOURCES... LIBS ...): one GoogleTest executable,
# discovered at test time so the Windows build can run it under Wine.
# SCREEN: under Wine its tests show windows or read the screen back, so they
# take the "screen" lock: two of them side by side would cover each other's
# windows on the one display.
function(vorn_test name)
  cmake_parse_arguments(T "SCREEN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vorn_test_support GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  set(lock)
  if(T_SCREEN AND CMAKE_CROSSCOMPILING)
    set(lock RESOURCE_LOCK screen)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 600 ${lock})
endfunction()
