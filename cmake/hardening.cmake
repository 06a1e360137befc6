# What dpkg-buildflags' hardening=+all gives a Debian package on amd64, so that the .deb built
# here is hardened like one from the archive: PIE, a stack protector, fortified libc calls and
# a read-only GOT bound at start. The sanitizer and fuzzing builds turn it off: fortified
# calls go past the sanitizers' interceptors.
option(QVR_HARDENING "Build with Debian's hardening flags (not for Windows)" ON)

if(QVR_HARDENING AND NOT WIN32)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  add_compile_options(-fstack-protector-strong)
  # Fortifying needs the optimiser: glibc warns without it, and -Werror fails, in a Debug
  # build as in one with no build type.
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
