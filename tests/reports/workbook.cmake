qx_add_test(tst_protocoldocument SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_protocoldocument.cpp
            LIBS QuellorixReports PkgConfig::LIBZIP)
target_compile_definitions(tst_protocoldocument PRIVATE QX_WORD_TEMPLATE="${QUELLORIX_WORD_TEMPLATE}")
add_dependencies(tst_protocoldocument WordTemplate)
target_compile_definitions(tst_workbook PRIVATE QX_XLS_READER="$<TARGET_FILE:quellorix-xls>")
