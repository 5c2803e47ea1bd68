# The parallel ranged downloader: the portable plan (ranges, part names, checks) and the
# Windows coordinator and workers, which post their progress through the main thread's queue.
list(APPEND MORVANE_RELEASE_CORE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/download_plan.cpp)
list(APPEND MORVANE_RELEASE_WIN_SOURCES ${CMAKE_CURRENT_LIST_DIR}/downloader.cpp)
