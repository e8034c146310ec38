qx_add_bench(bench_liveserver SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_liveserver.cpp LIBS QuellorixLive)
