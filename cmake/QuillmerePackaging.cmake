# Installation of the program and its documents, and the packages made from it with CPack:
# a Debian package per component (quillmere, quillmere-dev) and a Windows zip.
#
#   cmake --install <build> [--prefix <dir>]     GNU layout; DESTDIR works as usual
#   cpack --preset deb             build/package/packages/quillmere_<version>_amd64.deb and
#                                  quillmere-dev_<version>_amd64.deb
#   cpack --preset windows-zip     build/windows/packages/quillmere-<version>-win64.zip
#
# Components: Runtime (the program and its documents), Development (the library, its
# header, CMake package and pkg-config file, installed by the library's own rules) and,
# with QUILLMERE_BUILD_PYTHON, Python (the module, installed by python/CMakeLists.txt; the
# Debian package python3-quillmere).

include(GNUInstallDirs)

# The Debian changelog and copyright file are made from these at configure time.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS CHANGELOG.md LICENSE)

set(QUILLMERE_PACKAGE_CONTACT "The Quillmere developers <quillmere@example.org>"
    CACHE STRING "Maintainer of the packages, \"Name <address>\"")
set(QUILLMERE_PACKAGE_NAME_DEV "${PROJECT_NAME}-dev")

set(quillmere_doc_dir "${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME}")

# A licence's text as a License paragraph of a Debian copyright file wants it: each line
# indented by one space, a blank line as " .".
function(quillmere_debian_license_text text out_var)
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text " ${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# --- What `cmake --install` puts where -----------------------------------------------------

if(WIN32)
  # The zip and an install folder hold the program beside its documents, as Windows users
  # expect to find them.
  install(TARGETS quillmere RUNTIME DESTINATION . COMPONENT Runtime)
  install(FILES README.md CHANGELOG.md DESTINATION . COMPONENT Runtime)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT Runtime)
  # KissFFT is compiled into the program: its licence goes with it.
  install(FILES packaging/third-party/KissFFT-LICENSE.txt DESTINATION . COMPONENT Runtime)
else()
  install(TARGETS quillmere RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  install(FILES completions/quillmere.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME quillmere COMPONENT Runtime)
  install(FILES README.md CHANGELOG.md DESTINATION ${quillmere_doc_dir} COMPONENT Runtime)

  if(NOT QUILLMERE_DEBIAN_LAYOUT)
    install(FILES man/quillmere.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
    install(FILES LICENSE packaging/third-party/KissFFT-LICENSE.txt
            DESTINATION ${quillmere_doc_dir} COMPONENT Runtime)
  else()
    # The Debian changelog of this version, from its entry in CHANGELOG.md: the version
    # must have one, with its date, and each of its bold headings becomes a line.
    file(READ CHANGELOG.md quillmere_changelog)
    string(REPLACE "." "\\." quillmere_version_pattern "${PROJECT_VERSION}")
    string(REGEX MATCH "\n## ${quillmere_version_pattern} [^0-9\n]* ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\n(.*)"
           quillmere_entry "${quillmere_changelog}")
    if(NOT quillmere_entry)
      message(FATAL_ERROR "CHANGELOG.md has no entry \"## ${PROJECT_VERSION} — YYYY-MM-DD\"")
    endif()
    set(quillmere_release_date "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "\n## .*" "" quillmere_entry "${CMAKE_MATCH_2}")
    string(REGEX MATCHALL "\n- \\*\\*[^*]+\\*\\*" quillmere_headings "\n${quillmere_entry}")
    set(QUILLMERE_DEBIAN_CHANGES "")
    foreach(heading IN LISTS quillmere_headings)
      string(REGEX REPLACE "\n- \\*\\*([^*]+)\\*\\*" "  * \\1" heading "${heading}")
      string(APPEND QUILLMERE_DEBIAN_CHANGES "${heading}\n")
    endforeach()
    if(NOT QUILLMERE_DEBIAN_CHANGES)
      set(QUILLMERE_DEBIAN_CHANGES "  * Release ${PROJECT_VERSION}.\n")
    endif()
    execute_process(COMMAND date -u -R -d "${quillmere_release_date} 12:00"
                    OUTPUT_VARIABLE QUILLMERE_DEBIAN_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)

    # The copyright file in Debian's machine-readable format, with the text of LICENSE.
    file(READ LICENSE quillmere_license)
    string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${quillmere_license}")
    set(QUILLMERE_DEBIAN_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" quillmere_license
           "${quillmere_license}")
    quillmere_debian_license_text("${quillmere_license}" QUILLMERE_DEBIAN_LICENSE)
    # KissFFT's kissfft.hh is compiled into the program and the library: its notice and
    # licence (BSD-3-clause), from the text the Windows zip carries, less its first lines.
    file(READ packaging/third-party/KissFFT-LICENSE.txt quillmere_kissfft)
    string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)\\. All rights reserved\\." _ "${quillmere_kissfft}")
    set(QUILLMERE_DEBIAN_KISSFFT_HOLDER "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "^.*All rights reserved\\.\n\n" "" quillmere_kissfft
           "${quillmere_kissfft}")
    quillmere_debian_license_text("${quillmere_kissfft}" QUILLMERE_DEBIAN_KISSFFT_LICENSE)

    set(quillmere_deb_dir "${PROJECT_BINARY_DIR}/debian")
    configure_file(packaging/debian/copyright.in "${quillmere_deb_dir}/copyright" @ONLY)
    configure_file(packaging/debian/changelog.in "${quillmere_deb_dir}/changelog" @ONLY)

    # gzip -9n: the best compression and no name or time stamp, so the package is the same
    # at every build.
    set(quillmere_gzipped "${quillmere_deb_dir}/quillmere.1.gz" "${quillmere_deb_dir}/changelog.gz")
    add_custom_command(
      OUTPUT ${quillmere_gzipped}
      COMMAND gzip -9n -c "${PROJECT_SOURCE_DIR}/man/quillmere.1" > "${quillmere_deb_dir}/quillmere.1.gz"
      COMMAND gzip -9n -c "${quillmere_deb_dir}/changelog" > "${quillmere_deb_dir}/changelog.gz"
      DEPENDS man/quillmere.1 "${quillmere_deb_dir}/changelog"
      COMMENT "Compressing the manual page and the Debian changelog")
    add_custom_target(quillmere_debian_docs ALL DEPENDS ${quillmere_gzipped})

    # What the compiler's own start-up objects note of their version goes too, as the Debian
    # tools strip it.
    if(CMAKE_OBJCOPY)
      add_custom_command(TARGET quillmere POST_BUILD
                         COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:quillmere>
                         VERBATIM)
    endif()

    install(FILES "${quillmere_deb_dir}/quillmere.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT Runtime)
    # Each package has its own copyright file and changelog.
    set(quillmere_components Runtime Development)
    set(quillmere_packages ${PROJECT_NAME} ${QUILLMERE_PACKAGE_NAME_DEV})
    if(QUILLMERE_BUILD_PYTHON)
      list(APPEND quillmere_components Python)
      list(APPEND quillmere_packages python3-${PROJECT_NAME})
    endif()
    foreach(component package IN ZIP_LISTS quillmere_components quillmere_packages)
      install(FILES "${quillmere_deb_dir}/copyright" "${quillmere_deb_dir}/changelog.gz"
              DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    endforeach()
  endif()
endif()

# --- CPack ------------------------------------------------------------------------------

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The Quillmere developers")
set(CPACK_PACKAGE_CONTACT "${QUILLMERE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/;/\\\\.cache/")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/QuillmereCPackOptions.cmake")

# Debian: one package per component, named as Debian names them.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLMERE_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION science)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${QUILLMERE_PACKAGE_NAME_DEV})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "Program")
set(CPACK_COMPONENT_DEVELOPMENT_DISPLAY_NAME "Library and header")
# The first line is the synopsis; the rest, the extended description.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "rational sample-rate conversion calculator
Quillmere finds the interpolation and decimation factors L/M of a rational
sample-rate converter, for one stage or for two cascaded stages L1/M1 -> L2/M2,
with the achieved rates, their errors in Hz, relative and in PPM, and an
estimate of the filter cost.
.
It runs as an interactive dialog at a terminal, or answers requests from its
command line and from batch files in text, JSON or CSV.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "rational sample-rate conversion calculator - development files
Quillmere finds the interpolation and decimation factors L/M of a rational
sample-rate converter, for one stage or for two cascaded stages L1/M1 -> L2/M2.
.
This package holds the C++ library, its header, its CMake package and its
pkg-config file.")

if(QUILLMERE_BUILD_PYTHON)
  # The module is built for one Python version: the package needs that one.
  string(REGEX MATCH "^3\\.([0-9]+)$" _ "${QUILLMERE_PYTHON_VERSION}")
  math(EXPR quillmere_python_next "${CMAKE_MATCH_1} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-${PROJECT_NAME})
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${QUILLMERE_PYTHON_VERSION}), python3 (<< 3.${quillmere_python_next}), python3-numpy")
  set(CPACK_COMPONENT_PYTHON_DISPLAY_NAME "Python module")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "rational sample-rate conversion calculator - Python 3 module
Quillmere finds the interpolation and decimation factors L/M of a rational
sample-rate converter, for one stage or for two cascaded stages L1/M1 -> L2/M2,
estimates the filter cost and designs the filters.
.
This package holds the Python 3 module quillmere: plans as Python values, the
command line's JSON records, and designed filters as NumPy arrays ready for
scipy.signal.upfirdn.")
endif()

# The Windows zip: see QuillmereCPackOptions.cmake.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)

include(CPack)
