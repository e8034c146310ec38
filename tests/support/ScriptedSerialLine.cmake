# qx_use_scripted_line(<target>): builds the scripted serial line into a test or
# benchmark and sends the tty system calls of the whole executable through it.
function(qx_use_scripted_line target)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/ScriptedSerialLine.cpp)
    target_link_options(${target} PRIVATE
        -Wl,--wrap=ioctl,--wrap=tcgetattr,--wrap=tcsetattr,--wrap=tcflush,--wrap=pthread_kill)
endfunction()
