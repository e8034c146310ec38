qx_add_bench(bench_workbookload SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_workbookload.cpp LIBS QuellorixReports)
