pageloom_fuzzer(dmzj_pages_fuzz SOURCES src/tasks/dmzj_pages.cpp)
