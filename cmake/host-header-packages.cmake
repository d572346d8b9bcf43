# Cross builds: CLI11 and nlohmann/json are header-only, so the build machine's packages
# serve the target as well. Their headers and CMake package files are copied into a
# prefix of the build tree and found there: the target's compiler sees these two header
# folders and nothing else of the build machine's /usr/include.
set(QUILLMERE_HOST_PREFIX /usr CACHE PATH "Where the header-only packages are installed")
set(_qm_stage ${CMAKE_BINARY_DIR}/host-header-packages)
foreach(_qm_entry "CLI11;CLI" "nlohmann_json;nlohmann")
  list(GET _qm_entry 0 _qm_package)
  list(GET _qm_entry 1 _qm_headers)
  find_path(_qm_config_dir ${_qm_package}Config.cmake
            PATHS ${QUILLMERE_HOST_PREFIX}/share/cmake/${_qm_package}
                  ${QUILLMERE_HOST_PREFIX}/lib/cmake/${_qm_package}
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT _qm_config_dir OR NOT IS_DIRECTORY ${QUILLMERE_HOST_PREFIX}/include/${_qm_headers})
    message(FATAL_ERROR "${_qm_package} not found under ${QUILLMERE_HOST_PREFIX} "
                        "(scripts/install-deps.sh installs it)")
  endif()
  file(COPY ${_qm_config_dir}/ DESTINATION ${_qm_stage}/share/cmake/${_qm_package})
  file(COPY ${QUILLMERE_HOST_PREFIX}/include/${_qm_headers}
       DESTINATION ${_qm_stage}/include)
  set(${_qm_package}_DIR ${_qm_stage}/share/cmake/${_qm_package} CACHE PATH "" FORCE)
  unset(_qm_config_dir CACHE)
endforeach()
