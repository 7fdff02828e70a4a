# FFTW's single-precision plans as the reference for the audio transforms.
pkg_check_modules(FFTW3F QUIET IMPORTED_TARGET fftw3f)
if(FFTW3F_FOUND)
  target_link_libraries(bench_audio PRIVATE PkgConfig::FFTW3F)
  target_compile_definitions(bench_audio PRIVATE VORN_HAVE_FFTW3F=1)
else()
  message(STATUS "fftw3f not found: bench_audio runs without its reference")
endif()
