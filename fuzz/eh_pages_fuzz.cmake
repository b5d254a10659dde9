pageloom_fuzzer(eh_pages_fuzz SOURCES src/sites/eh/eh_pages.cpp src/sites/eh/eh_metadata.cpp
  src/engine/plain_text.cpp)
