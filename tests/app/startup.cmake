qx_add_test(tst_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_startup.cpp LIBS QuellorixApp)
# The trial starts run the real program, copied under other names.
target_compile_definitions(tst_startup PRIVATE QUELLORIX_EXE="$<TARGET_FILE:Quellorix>")
add_dependencies(tst_startup Quellorix)
