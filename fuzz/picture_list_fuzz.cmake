# Evaluated page-script texts into picture lists.
pageloom_fuzzer(picture_list_fuzz SOURCES src/script/picture_list.cpp)
