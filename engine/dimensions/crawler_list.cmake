# The crawler list, made at build time from the pinned package that scripts/install-deps puts in
# third_party/data (no network here): make_crawler_list.py writes its tables, and
# make_crawler_matcher compiles the patterns into one Hyperscan database for the engine.
set(CRAWLER_PACKAGE ${PROJECT_SOURCE_DIR}/third_party/data/node_modules/crawler-user-agents)
if(NOT EXISTS ${CRAWLER_PACKAGE}/crawler-user-agents.json)
  message(FATAL_ERROR "The crawler list is missing (${CRAWLER_PACKAGE}/crawler-user-agents.json): "
                      "run scripts/install-deps, which fetches it, then configure again")
endif()
if(NOT TARGET PkgConfig::HYPERSCAN)
  pkg_check_modules(HYPERSCAN REQUIRED IMPORTED_TARGET libhs)
endif()
find_program(HITSIEVE_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(HITSIEVE_PYTHON3 python3 REQUIRED)

set(CRAWLER_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${CRAWLER_GENERATED})
add_custom_command(
  OUTPUT ${CRAWLER_GENERATED}/crawler_entries.inc ${CRAWLER_GENERATED}/crawler_instances.inc
  COMMAND ${HITSIEVE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/make_crawler_list.py
          ${CRAWLER_PACKAGE} ${CRAWLER_GENERATED}/crawler_entries.inc
          ${CRAWLER_GENERATED}/crawler_instances.inc
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/make_crawler_list.py
          ${CRAWLER_PACKAGE}/crawler-user-agents.json ${CRAWLER_PACKAGE}/package.json
  COMMENT "Making the crawler list's tables")

add_executable(make_crawler_matcher ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/tools/make_crawler_matcher.cpp
                                    ${CRAWLER_GENERATED}/crawler_entries.inc)
target_include_directories(make_crawler_matcher PRIVATE ${PROJECT_SOURCE_DIR} ${CRAWLER_GENERATED})
target_link_libraries(make_crawler_matcher PRIVATE PkgConfig::HYPERSCAN)
add_custom_command(
  OUTPUT ${CRAWLER_GENERATED}/crawler_matcher.inc
  COMMAND make_crawler_matcher ${CRAWLER_GENERATED}/crawler_matcher.inc
  DEPENDS make_crawler_matcher
  COMMENT "Compiling the crawler list's patterns")

target_sources(hitsieve_engine PRIVATE ${CRAWLER_GENERATED}/crawler_entries.inc
                                       ${CRAWLER_GENERATED}/crawler_matcher.inc)
target_include_directories(hitsieve_engine PUBLIC ${CRAWLER_GENERATED})
target_link_libraries(hitsieve_engine PRIVATE PkgConfig::HYPERSCAN)
