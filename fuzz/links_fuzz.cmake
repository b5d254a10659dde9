# Links from pages resolved against their page, and the same-host test.
pageloom_fuzzer(links_fuzz SOURCES src/engine/links.cpp)
