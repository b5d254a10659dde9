pageloom_fuzzer(eh_answers_fuzz SOURCES src/sites/eh/eh_answers.cpp)
