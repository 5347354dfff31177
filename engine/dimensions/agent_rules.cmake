# The user agent rules compiled into the engine: generated at build time from the pinned regex
# file, which scripts/install-deps installs into third_party/data. No network is needed here.
set(HITSIEVE_AGENT_DATA ${PROJECT_SOURCE_DIR}/third_party/data/node_modules/uap-core)
if(NOT EXISTS ${HITSIEVE_AGENT_DATA}/regexes.yaml OR NOT EXISTS ${HITSIEVE_AGENT_DATA}/package.json)
  message(FATAL_ERROR "The user agent regexes are missing (${HITSIEVE_AGENT_DATA}/regexes.yaml): "
                      "run scripts/install-deps, then configure again.")
endif()

# Debian's Python, which has the yaml module (python3-yaml), before any other on the PATH.
find_program(HITSIEVE_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(HITSIEVE_PYTHON3 python3 REQUIRED)
execute_process(COMMAND ${HITSIEVE_PYTHON3} -c "import yaml" RESULT_VARIABLE yaml_missing
                OUTPUT_QUIET ERROR_QUIET)
if(yaml_missing)
  message(FATAL_ERROR "${HITSIEVE_PYTHON3} has no yaml module (python3-yaml), which the build "
                      "needs to read the user agent regexes: run scripts/install-deps.")
endif()

pkg_check_modules(HYPERSCAN REQUIRED IMPORTED_TARGET libhs)

set(agent_rules_cpp ${CMAKE_CURRENT_BINARY_DIR}/dimensions/agent_rules.cpp)
add_custom_command(
  OUTPUT ${agent_rules_cpp}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/dimensions
  COMMAND ${HITSIEVE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/make_agent_rules.py
          ${HITSIEVE_AGENT_DATA}/regexes.yaml ${HITSIEVE_AGENT_DATA}/package.json ${agent_rules_cpp}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/make_agent_rules.py
          ${HITSIEVE_AGENT_DATA}/regexes.yaml ${HITSIEVE_AGENT_DATA}/package.json
  COMMENT "Generating the user agent rules from ${HITSIEVE_AGENT_DATA}/regexes.yaml"
  VERBATIM)
target_sources(hitsieve_engine PRIVATE ${agent_rules_cpp})
target_link_libraries(hitsieve_engine PRIVATE PkgConfig::HYPERSCAN)

# The rules' literal scanner, compiled once here instead of at the start of every run.
add_executable(make_agent_prefilter ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/tools/make_agent_prefilter.cpp
                                    ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/agent_prefilter.cpp
                                    ${CMAKE_CURRENT_SOURCE_DIR}/dimensions/rule_prefilter.cpp
                                    ${agent_rules_cpp})
target_include_directories(make_agent_prefilter PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(make_agent_prefilter PRIVATE PkgConfig::HYPERSCAN)
set(agent_prefilter_inc ${CMAKE_CURRENT_BINARY_DIR}/dimensions/agent_prefilter.inc)
add_custom_command(
  OUTPUT ${agent_prefilter_inc}
  COMMAND make_agent_prefilter ${agent_prefilter_inc}
  DEPENDS make_agent_prefilter
  COMMENT "Compiling the user agent rules' literal scanner")
target_sources(hitsieve_engine PRIVATE ${agent_prefilter_inc})
target_include_directories(hitsieve_engine PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/dimensions)
