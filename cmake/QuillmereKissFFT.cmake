# KissFFT's header-only C++ template, kissfft.hh (BSD-3-Clause; Debian's libkissfft-dev),
# which the filter design measures its filters with. Sets QUILLMERE_KISSFFT_INCLUDE_DIR to
# the folder that holds it.
#
# Cross builds (MinGW-w64, emscripten) search only the target's root, where the build
# machine's package is not: the header, a template that needs nothing but the standard
# library, is copied from the build machine into the build tree and found there, so that
# the target's compiler sees that one header and nothing else of /usr/include.
if(CMAKE_CROSSCOMPILING)
  set(QUILLMERE_HOST_PREFIX /usr CACHE PATH "Where the header-only packages are installed")
  find_path(_qm_kissfft_host_dir kissfft.hh
            PATHS ${QUILLMERE_HOST_PREFIX}/include/kissfft ${QUILLMERE_HOST_PREFIX}/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT _qm_kissfft_host_dir)
    message(FATAL_ERROR "kissfft.hh not found under ${QUILLMERE_HOST_PREFIX}/include "
                        "(scripts/install-deps.sh installs libkissfft-dev)")
  endif()
  set(_qm_kissfft_stage ${CMAKE_BINARY_DIR}/host-header-packages/kissfft)
  file(COPY ${_qm_kissfft_host_dir}/kissfft.hh DESTINATION ${_qm_kissfft_stage})
  set(QUILLMERE_KISSFFT_INCLUDE_DIR ${_qm_kissfft_stage} CACHE PATH
      "The folder of kissfft.hh (copied from the build machine)" FORCE)
  unset(_qm_kissfft_host_dir CACHE)
else()
  find_path(QUILLMERE_KISSFFT_INCLUDE_DIR kissfft.hh PATH_SUFFIXES kissfft
            HINTS /usr/include DOC "The folder of KissFFT's kissfft.hh")
  if(NOT QUILLMERE_KISSFFT_INCLUDE_DIR)
    message(FATAL_ERROR "kissfft.hh not found (scripts/install-deps.sh installs libkissfft-dev; "
                        "vcpkg installs the kissfft port; or set QUILLMERE_KISSFFT_INCLUDE_DIR)")
  endif()
endif()
