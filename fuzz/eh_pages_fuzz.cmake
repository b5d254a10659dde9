pageloom_fuzzer(eh_pages_fuzz SOURCES src/sites/eh/eh_pages.cpp)
