pageloom_fuzzer(dmzj_pages_fuzz SOURCES src/sites/dmzj/dmzj_pages.cpp)
