pageloom_fuzzer(eh_pages_fuzz SOURCES src/tasks/eh_pages.cpp)
