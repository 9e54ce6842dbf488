# The scripted HTTPS peer (zeq_test_peer.py) for suites that talk to serverHost
# on port 443, the Root-store helper that makes the test prefix trust the peer's
# test authority, and the test-side client of the peer's files.

set(ZEQ_PEER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/zeq_test_peer.py)
set(ZEQ_PEER_STATE ${CMAKE_BINARY_DIR}/test-peer)
set(ZEQ_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)

add_executable(zeq_trust_root ${CMAKE_CURRENT_LIST_DIR}/trust_root_cert.cpp)
target_compile_definitions(zeq_trust_root PRIVATE ${ZEQ_TOOL_DEFINITIONS})
target_compile_options(zeq_trust_root PRIVATE -Wall -Wextra -Werror)
target_link_libraries(zeq_trust_root PRIVATE crypt32 ${ZEQ_STATIC_LINK})

add_library(zeq_test_peer_client STATIC ${CMAKE_CURRENT_LIST_DIR}/test_peer.cpp)
target_compile_definitions(zeq_test_peer_client PRIVATE ${ZEQ_TOOL_DEFINITIONS})
target_compile_options(zeq_test_peer_client PRIVATE -Wall -Wextra -Werror)
target_include_directories(zeq_test_peer_client PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)

# zeq_add_peer_test(NAME SOURCES... [LABELS ...] [LIBRARIES ...])
# Like zeq_add_wine_test, but the suite runs while the peer listens on
# 127.0.0.1:443 (started and stopped by the peer's "run" command around the
# suite), with ZEQ_PEER_DIR set and the test authority trusted in the prefix.
function(zeq_add_peer_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LABELS;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_definitions(${name} PRIVATE ${ZEQ_TOOL_DEFINITIONS})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Werror)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE zeq_core zeq_test_peer_client gtest_main
    ${ARG_LIBRARIES} ${ZEQ_STATIC_LINK})
  add_dependencies(${name} zeq_trust_root)
  add_test(NAME ${name}
    COMMAND /usr/bin/python3 ${ZEQ_PEER_SCRIPT} run --state ${ZEQ_PEER_STATE}
      --prefix ${ZEQ_WINEPREFIX} --wine-run ${ZEQ_WINE_RUN}
      --trust-helper $<TARGET_FILE:zeq_trust_root>
      -- ${ZEQ_WINE_RUN} ${ZEQ_WINEPREFIX} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ZEQ_TEST_ENVIRONMENT}"
    LABELS "${ARG_LABELS}" TIMEOUT 300 RESOURCE_LOCK port443)
  # The peer answers for localhost only; another host would reach the real network.
  if(NOT ZEQ_SERVER_HOST STREQUAL "localhost")
    set_tests_properties(${name} PROPERTIES DISABLED TRUE)
  endif()
endfunction()
