# Shared build helpers.

# Adds every direct subfolder of the current folder that has a CMakeLists.txt and has not
# been added explicitly, so new areas slot in without editing their parent.
function(lumeo_add_existing_subdirs)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    get_property(added DIRECTORY PROPERTY SUBDIRECTORIES)
    foreach(child ${children})
        set(full ${CMAKE_CURRENT_SOURCE_DIR}/${child})
        if(IS_DIRECTORY ${full} AND EXISTS ${full}/CMakeLists.txt)
            get_filename_component(bin ${CMAKE_CURRENT_BINARY_DIR}/${child} ABSOLUTE)
            list(FIND added ${full} at)
            if(at EQUAL -1)
                add_subdirectory(${child})
            endif()
        endif()
    endforeach()
endfunction()

# lumeo_test(NAME [REST] SOURCES ... LIBS ...): one GoogleTest executable; each test is a CTest case.
# It starts with none of the user's LUMEO_* values and a runtime folder and registry of its own
# (tests/environment.cpp).
# Every test_*.cpp of a tests folder is built without being listed: the files that no
# lumeo_test of the folder names go into the folder's program marked REST (one per folder).
function(lumeo_test name)
    cmake_parse_arguments(T "REST" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock lumeo_test_environment)
    # Where the sources and the program folder are, for tests that read fixtures or load plug-ins.
    target_compile_definitions(${name} PRIVATE
        LUMEO_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}" LUMEO_TEST_DIST_DIR="${LUMEO_DIST_DIR}")
    # (Test properties cannot carry a list of variables through test discovery, so the
    # folders come as compile definitions rather than as environment.)
    gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
    foreach(source ${T_SOURCES})
        get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        set_property(DIRECTORY APPEND PROPERTY LUMEO_TEST_NAMED ${source})
    endforeach()
    if(T_REST)
        set_property(DIRECTORY PROPERTY LUMEO_TEST_REST ${name})
    endif()
    get_property(deferred DIRECTORY PROPERTY LUMEO_TEST_DEFERRED)
    if(NOT deferred)
        set_property(DIRECTORY PROPERTY LUMEO_TEST_DEFERRED ON)
        cmake_language(DEFER CALL lumeo_test_rest)
    endif()
endfunction()

# At the end of a tests folder: its test_*.cpp files that no lumeo_test named, into its REST program.
function(lumeo_test_rest)
    file(GLOB rest CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
    get_property(named DIRECTORY PROPERTY LUMEO_TEST_NAMED)
    if(named)
        list(REMOVE_ITEM rest ${named})
    endif()
    get_property(program DIRECTORY PROPERTY LUMEO_TEST_REST)
    if(rest AND NOT program)
        message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}: no lumeo_test(... REST ...) builds ${rest}")
    endif()
    if(rest)
        target_sources(${program} PRIVATE ${rest})
    endif()
endfunction()

# lumeo_plugin(NAME SOURCES ... LIBS ...): a player-core plug-in file NAME.plg in the program folder.
function(lumeo_plugin name)
    cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} MODULE ${P_SOURCES})
    target_link_libraries(${name} PRIVATE ${P_LIBS})
    set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".plg"
        LIBRARY_OUTPUT_DIRECTORY ${LUMEO_DIST_DIR}
        CXX_VISIBILITY_PRESET hidden)
endfunction()

# lumeo_program(NAME SOURCES ... LIBS ... [DEST subfolder]): a program in the program folder.
function(lumeo_program name)
    cmake_parse_arguments(P "" "DEST" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${P_SOURCES})
    target_link_libraries(${name} PRIVATE ${P_LIBS})
    set(dest ${LUMEO_DIST_DIR})
    if(P_DEST)
        set(dest ${LUMEO_DIST_DIR}/${P_DEST})
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dest})
endfunction()

# lumeo_fuzz_target(NAME SOURCES ... [LIBS ...] [INCLUDES ...] [DEFINES ...] CORPUS folder...):
# the libFuzzer target NAME in the fuzzing tree (LUMEO_FUZZ, see scripts/fuzz), and in every
# tree replay_NAME, the same sources with our replay main, run by the CTest test replay_NAME
# over the CORPUS folders (relative to the calling folder), so what the fuzzers found stays
# found in the normal and the sanitizer trees.
function(lumeo_fuzz_target name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS;INCLUDES;DEFINES;CORPUS" ${ARGN})
    set(targets replay_${name})
    add_executable(replay_${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    if(LUMEO_FUZZ)
        add_executable(${name} ${F_SOURCES})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        list(APPEND targets ${name})
    endif()
    foreach(target ${targets})
        target_link_libraries(${target} PRIVATE ${F_LIBS})
        target_include_directories(${target} PRIVATE ${F_INCLUDES})
        target_compile_definitions(${target} PRIVATE ${F_DEFINES})
    endforeach()
    set(folders)
    foreach(folder ${F_CORPUS})
        cmake_path(ABSOLUTE_PATH folder BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
        list(APPEND folders ${folder})
    endforeach()
    add_test(NAME replay_${name} COMMAND replay_${name} ${folders})
    # scripts/fuzz starts the fuzzer from the same seeds.
    list(JOIN folders "\n" seedList)
    file(WRITE ${CMAKE_BINARY_DIR}/fuzz-seeds/${name}.txt "${seedList}\n")
    # Leaks count as the fuzzer counts them, whatever the suite's sanitizer options say.
    set_tests_properties(replay_${name} PROPERTIES TIMEOUT 300
        ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::detect_leaks=1")
endfunction()
