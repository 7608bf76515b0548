# Helpers shared by the folder build files.

# clavora_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [X11] [WAYLAND] [LSAN_SUPPRESSIONS <file>])
# One test executable per area, linked with GoogleTest and the shared test support library, its cases discovered
# by CTest when the tests run. Tests run with QT_QPA_PLATFORM=offscreen unless marked X11, in which case they get
# the label "x11", use the DISPLAY of the headless rig started by test.sh, and run one at a time: they share its
# keyboard, its layout and its sound sink. Tests marked WAYLAND get the label "wayland" and run one at a time too: they
# drive the program on the compositor of scripts/wayland-rig.sh (which they find through its CLAVORA_WAYLAND_*
# variables) and themselves need no display. LSAN_SUPPRESSIONS replaces tests/lsan.supp (which test.sh names) for
# the executable in a sanitizer build.
function(clavora_add_test)
    cmake_parse_arguments(T "X11;WAYLAND" "NAME;TIMEOUT;LSAN_SUPPRESSIONS" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE clavora_testsupport GTest::gtest GTest::gmock ${T_LIBS})
    set(env "CLAVORA_PROGRAM_DIR=${CLAVORA_PROGRAM_DIR}" "CLAVORA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
        "CLAVORA_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(T_LSAN_SUPPRESSIONS AND CLAVORA_SANITIZE)
        list(APPEND env "LSAN_OPTIONS=suppressions=${T_LSAN_SUPPRESSIONS}:print_suppressions=0")
    endif()
    set(labels ${T_LABELS})
    set(serial ${T_X11})
    if(T_X11)
        list(APPEND labels x11)
    elseif(T_WAYLAND)
        list(APPEND labels wayland)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
        set(serial ON)
    else()
        list(APPEND labels unit)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    # The environment goes in through an executor: a list passed as a discovered test's ENVIRONMENT property is
    # split apart on the way, and discovery itself needs it too.
    set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${env}")
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT} RUN_SERIAL ${serial})
endfunction()

# clavora_add_bench(NAME <name> SOURCES <files...> LIBS <targets...>)
function(clavora_add_bench)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${B_NAME} ${B_SOURCES})
    target_link_libraries(${B_NAME} PRIVATE benchmark::benchmark ${B_LIBS})
    set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
