qx_add_bench(bench_reports SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_reports.cpp LIBS QuellorixReports)
