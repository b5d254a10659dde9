# Random bytes through the UTF-8 -> ANSI -> wide text conversions.
pageloom_fuzzer(encoding_fuzz SOURCES src/text/encoding.cpp src/text/fixed_text.cpp)
