qx_add_test(tst_workbook SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_workbook.cpp LIBS QuellorixCore PkgConfig::LIBZIP)
target_compile_definitions(tst_workbook PRIVATE QX_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/reports/data")
