pageloom_fuzzer(dmzj_pages_fuzz SOURCES src/sites/dmzj/dmzj_pages.cpp
  src/sites/dmzj/dmzj_metadata.cpp src/engine/plain_text.cpp)
