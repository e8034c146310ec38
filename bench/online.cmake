qx_add_bench(bench_online SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_online.cpp LIBS QuellorixLive)
