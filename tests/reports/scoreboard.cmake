qx_add_test(tst_scoreboard SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_scoreboard.cpp LIBS QuellorixReports)
