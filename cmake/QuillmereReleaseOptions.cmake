# Options of the release packages. Included before the first target: the flags apply to
# every target defined after it.

option(QUILLMERE_DEBIAN_LAYOUT
       "Lay the documents out as a Debian package wants them: copyright, changelog.gz, a compressed manual page"
       OFF)
if(QUILLMERE_DEBIAN_LAYOUT AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # No compiler version notes (.comment) in the objects: the Debian tools strip them too.
  add_compile_options(-fno-ident)
endif()

# Release binaries of the packages are hardened as Debian builds its own: stack protector,
# fortified libc calls, read-only relocations bound at start, position-independent code.
option(QUILLMERE_HARDENING "Build with the usual hardening flags" OFF)
if(QUILLMERE_HARDENING AND NOT MSVC AND NOT WIN32)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat
                      -Werror=format-security $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i.86")
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

