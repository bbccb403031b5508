# nlohmann_json::nlohmann_json, for the command-line tool only (the libraries need nothing beyond
# the standard library). Debian's nlohmann-json3-dev provides it; a cross build does not search
# the build machine's packages, so there its headers, and only those, are staged on their own.
find_package(nlohmann_json 3 QUIET)
if(NOT TARGET nlohmann_json::nlohmann_json)
  find_path(VELMORAN_NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp
            PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT VELMORAN_NLOHMANN_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev")
  endif()
  set(staged "${CMAKE_BINARY_DIR}/staged-include")
  file(COPY "${VELMORAN_NLOHMANN_JSON_INCLUDE_DIR}/nlohmann" DESTINATION "${staged}")
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${staged}")
endif()
