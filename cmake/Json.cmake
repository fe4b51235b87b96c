# nlohmann JSON from Debian's header-only package. /usr/include holds Linux headers, so the
# Windows build sees only the nlohmann folder, through a link in the build tree.
set(NIMBREL_JSON_HEADERS /usr/include/nlohmann CACHE PATH "Folder of nlohmann/json.hpp")
set(_json_root ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${_json_root})
file(CREATE_LINK ${NIMBREL_JSON_HEADERS} ${_json_root}/nlohmann SYMBOLIC)
add_library(nimbrel_json INTERFACE)
target_include_directories(nimbrel_json SYSTEM INTERFACE ${_json_root})
