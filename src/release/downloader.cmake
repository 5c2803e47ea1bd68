# The parallel ranged downloader: the portable plan (ranges, part names, checks) and the
# Windows coordinator and workers, which post their progress through the main thread's queue.
list(APPEND MORVANE_RELEASE_CORE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/download_plan.cpp)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/release_folder.h)
  list(APPEND MORVANE_RELEASE_WIN_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/downloader.cpp)
  if(WIN32)
    cmake_language(DEFER CALL target_link_libraries morvane_release PUBLIC morvane_app)
  endif()
endif()
