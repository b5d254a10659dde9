# Random bytes through the UTF-8 -> ANSI -> wide text conversions.
pageloom_fuzzer(encoding_fuzz SOURCES src/base/encoding.cpp src/base/fixed_text.cpp)
