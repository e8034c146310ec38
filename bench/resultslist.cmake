qx_add_bench(bench_resultslist SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_resultslist.cpp LIBS QuellorixReports)
