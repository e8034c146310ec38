qx_add_bench(bench_gridbase SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gridbase.cpp LIBS QuellorixWidgets)
