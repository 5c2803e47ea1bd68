# The program's HTTP client and the release folder client.
list(APPEND MORVANE_RELEASE_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cookies.cpp
  ${CMAKE_CURRENT_LIST_DIR}/listing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/answer_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/response.cpp
)
list(APPEND MORVANE_RELEASE_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/http_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release_folder.cpp
)
if(WIN32)
  # Receive-data notifications reach the main thread through its queue.
  cmake_language(DEFER CALL target_link_libraries morvane_release PUBLIC morvane_queue)
endif()
if(MORVANE_SANITIZE)
  # The JSON reader's stack does arithmetic on its null start pointer before its first
  # allocation; harmless, but UBSan stops at it.
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/listing.cpp PROPERTIES COMPILE_OPTIONS -fno-sanitize=pointer-overflow)
endif()
