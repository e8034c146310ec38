qx_add_test(tst_formmain_journal SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain_journal.cpp LIBS QuellorixApp)
# Journals written by the earlier version, with what its restore showed.
target_compile_definitions(tst_formmain_journal PRIVATE QX_EARLIER_JOURNALS="${CMAKE_CURRENT_LIST_DIR}/data/journals")
