# The closing logo: a one-frame movie made by the project's encoder and kept
# as a byte array in src/logo/logo_movie.cc. The array is committed, so the
# native and the cross (win32) builds compile the same bytes without running
# the encoder on the build machine; scripts/make_logo.sh rebuilds it with the
# native generator below (and with --check tells whether it is current).
add_library(vorn_logo STATIC ${CMAKE_SOURCE_DIR}/src/logo/logo_movie.cc)
target_include_directories(vorn_logo PUBLIC ${CMAKE_SOURCE_DIR}/src)

if(NOT CMAKE_CROSSCOMPILING)
  add_executable(vorn_make_logo EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/logo/make_logo.cc)
  target_link_libraries(vorn_make_logo PRIVATE vorn_synth vorn_writer vorncore)
endif()
