qx_add_bench(bench_racejournal SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_racejournal.cpp LIBS QuellorixApp)
