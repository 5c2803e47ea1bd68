# Fuzzing the listing search and the answer-text decoder (native sanitizer build only).
if(NOT WIN32 AND MORVANE_SANITIZE)
  add_executable(fuzz_listing ${CMAKE_CURRENT_LIST_DIR}/fuzz_listing.cpp)
  target_compile_options(fuzz_listing PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_listing PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_listing PRIVATE morvane_release_core)
endif()
