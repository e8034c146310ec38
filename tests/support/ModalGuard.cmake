# qx_add_modal_guard(<target> <libraries>): an executable with widgets (a test or a
# bench driving windows) carries the guard that ends the run on any modal dialog
# nobody answers, instead of waiting for ever (ModalGuard.h).
function(qx_add_modal_guard target)
    set(widget_libs QuellorixApp QuellorixWidgets QuellorixReports QuellorixBarrier Qt6::Widgets)
    foreach(lib IN LISTS ARGN)
        if(lib IN_LIST widget_libs)
            target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/ModalGuard.cpp)
            target_link_libraries(${target} PRIVATE Qt6::Test)
            return()
        endif()
    endforeach()
endfunction()
