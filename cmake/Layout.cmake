# Folder conventions, so adding a source, test, tool or benchmark never needs a CMake edit:
#   <subsystem>/*.cpp        engine library <subsystem> (no Qt)
#   <subsystem>/ui/*.cpp     window code, all in one library larkspur_ui (Qt 6 Widgets)
#   tools/common/*.cpp       library toolsupport (fixture writers shared by tools and tests)
#   tools/<name>/*.cpp       program <name>
#   tools/common/ui/*.cpp    library toolsupport_ui (window fixtures shared by window tools and window tests)
#   tools/<name>/ui/*.cpp    program <name> that opens the windows
#   tests/support/*.cpp      library testsupport
#   tests/support/ui/*.cpp   linked into each window test in ThreadSanitizer builds only
#   tests/<sub>/*_test.cpp   one GoogleTest program each; tests/<sub>/ui/*_test.cpp also link the windows
#   tests/bench/*.cpp        one Google Benchmark program each (not run by ctest)
#   fuzz/*_fuzz.cpp          one libFuzzer program each (LARKSPUR_FUZZ builds only)

set(LARKSPUR_ENGINE_LIBS "")
set(LARKSPUR_EMPTY_SOURCE ${CMAKE_BINARY_DIR}/empty.cpp)
file(WRITE ${LARKSPUR_EMPTY_SOURCE} "// Lets a library exist before its folder has sources.\nnamespace {}\n")

function(larkspur_engine_library name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_main\\.cpp$")
  add_library(${name} STATIC ${srcs} ${LARKSPUR_EMPTY_SOURCE})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  set(LARKSPUR_ENGINE_LIBS ${LARKSPUR_ENGINE_LIBS} ${name} PARENT_SCOPE)
endfunction()

macro(larkspur_ui_library name)
  file(GLOB _ui_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/ui/*.cpp ${CMAKE_SOURCE_DIR}/${name}/ui/*.h)
  list(APPEND LARKSPUR_UI_SOURCES ${_ui_srcs})
endmacro()

function(larkspur_finish_ui)
  add_library(larkspur_ui STATIC ${LARKSPUR_UI_SOURCES} ${LARKSPUR_EMPTY_SOURCE})
  set_target_properties(larkspur_ui PROPERTIES AUTOMOC ON)
  target_include_directories(larkspur_ui PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(larkspur_ui PUBLIC ${LARKSPUR_ENGINE_LIBS} Qt6::Widgets Qt6::PrintSupport)
endfunction()

function(larkspur_tools)
  file(GLOB common CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/common/*.cpp)
  add_library(toolsupport STATIC ${common} ${LARKSPUR_EMPTY_SOURCE})
  target_include_directories(toolsupport PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(toolsupport PUBLIC ${LARKSPUR_ENGINE_LIBS} PkgConfig::FFMPEG_CODECS PkgConfig::HTTPLIB)
  file(GLOB dirs LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tools/*)
  foreach(dir ${dirs})
    get_filename_component(tool ${dir} NAME)
    if(IS_DIRECTORY ${dir} AND NOT tool STREQUAL "common")
      file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
      if(srcs)
        add_executable(${tool} ${srcs})
        target_link_libraries(${tool} PRIVATE toolsupport)
        set_property(GLOBAL APPEND PROPERTY LARKSPUR_TOOL_TARGETS ${tool})
      endif()
    endif()
  endforeach()
endfunction()

function(larkspur_window_tools)
  file(GLOB common CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/common/ui/*.cpp)
  add_library(toolsupport_ui STATIC ${common} ${LARKSPUR_EMPTY_SOURCE})
  target_include_directories(toolsupport_ui PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(toolsupport_ui PUBLIC toolsupport larkspur_ui)
  file(GLOB dirs LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tools/*)
  foreach(dir ${dirs})
    get_filename_component(tool ${dir} NAME)
    if(IS_DIRECTORY ${dir}/ui AND NOT tool STREQUAL "common")
      file(GLOB srcs CONFIGURE_DEPENDS ${dir}/ui/*.cpp)
      if(srcs)
        add_executable(${tool} ${srcs})
        target_link_libraries(${tool} PRIVATE toolsupport_ui)
        set_property(GLOBAL APPEND PROPERTY LARKSPUR_TOOL_TARGETS ${tool})
      endif()
    endif()
  endforeach()
endfunction()

# Tests whose code runs threads of its own: the ThreadSanitizer run takes these
# (label "threads"): queue, workers, readers, receiver, preview, exports, backup,
# the checker's verification and preview, the HTTP client, the ping, the busy window and
# the calls queued to the windows.
set(LARKSPUR_THREADED_TESTS
  media_data_queue_test media_local_playback_test media_remote_playback_test media_preview_stream_engine_test
  media_wave_out_player_test media_http_get_test media_icmp_ping_test media_ui_vedio_player_draw_test media_ui_local_playback_view_test
  export_local_export_test export_remote_export_test export_backup_test export_backup_share_test
  export_local_export_share_test export_share_loss_test export_sound_decode_ahead_test
  checker_verification_test checker_ui_watermark_dlg_test sources_ui_busy_worker_test
  media_recorder_api_test sources_ui_share_waits_test sources_share_query_worker_test platform_cancellable_wait_test
  media_ui_queued_call_test media_ui_queued_call_race_test)

# Tests that measure how long the window thread or a stop waits: run alone, so the
# other tests' load on the machine is not taken for a wait. The window's recorder waits
# pass beside other tests in a plain build, but not beside seven ThreadSanitizer ones.
set(LARKSPUR_SERIAL_TESTS sources_ui_recorder_waits_test media_recorder_faults_test mainwindow_ui_recorder_open_test
  mainwindow_ui_recorder_window_waits_test)

function(larkspur_tests)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xdg-runtime)
  file(CHMOD ${CMAKE_BINARY_DIR}/xdg-runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
  list(FILTER support EXCLUDE REGEX "/test_main\\.cpp$")
  add_library(testsupport STATIC ${support} ${LARKSPUR_EMPTY_SOURCE})
  target_include_directories(testsupport PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(testsupport PUBLIC toolsupport GTest::gtest)
  # Ends a run with a skip as 77, which ctest then reports as skipped (SKIP_RETURN_CODE).
  add_library(testmain STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
  target_link_libraries(testmain PUBLIC testsupport)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/*_test.cpp ${CMAKE_SOURCE_DIR}/tests/*/ui/*_test.cpp)
  foreach(src ${tests})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${src})
    string(REGEX REPLACE "\\.cpp$" "" name ${rel})
    string(REPLACE "/" "_" name ${name})
    # It checks what ThreadSanitizer reports: elsewhere it would only ever be a skip.
    if(name STREQUAL "media_ui_queued_call_race_test" AND NOT LARKSPUR_TSAN)
      continue()
    endif()
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE testmain testsupport)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    set(env "LARKSPUR_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "SDL_AUDIODRIVER=disk" "SDL_DISKAUDIOFILE=/dev/null")
    if(rel MATCHES "/ui/")
      target_link_libraries(${name} PRIVATE toolsupport_ui Qt6::Test)
      set_target_properties(${name} PROPERTIES AUTOMOC ON)
      if(LARKSPUR_TSAN)
        target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/ui/qt_threads_unchecked.cpp)
        target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
      endif()
      # Qt and fontconfig keep caches for the life of the process.
      list(APPEND env "QT_QPA_PLATFORM=offscreen" "ASAN_OPTIONS=detect_leaks=0")
      # Else Qt makes its runtime folder in the temporary folder and leaves it there.
      list(APPEND env "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
    if(name IN_LIST LARKSPUR_THREADED_TESTS)
      set_tests_properties(${name} PROPERTIES LABELS threads)
      list(APPEND threaded ${name})
    elseif(rel MATCHES "/ui/")
      # The other window tests: the ThreadSanitizer run takes these too (label "windows").
      set_tests_properties(${name} PROPERTIES LABELS windows)
      list(APPEND windows ${name})
    endif()
    if(name IN_LIST LARKSPUR_SERIAL_TESTS)
      set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
  endforeach()
  # What the ThreadSanitizer run builds: the threaded tests, the window tests, and the programs
  # and files they read beside them.
  add_custom_target(threaded_tests DEPENDS ${threaded} watermark-check avdata-backup avdata-export skin_pictures lang_files
                    program_data_files)
  get_property(tools GLOBAL PROPERTY LARKSPUR_TOOL_TARGETS)
  add_custom_target(window_tests DEPENDS ${windows} ${tools} larkspur halyard skin_pictures lang_files program_data_files)
endfunction()

function(larkspur_benchmarks)
  if(NOT benchmark_FOUND OR LARKSPUR_SANITIZE OR LARKSPUR_TSAN)
    return()
  endif()
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/*.cpp)
  foreach(src ${benches})
    get_filename_component(name ${src} NAME_WE)
    add_executable(bench_${name} ${src})
    target_link_libraries(bench_${name} PRIVATE testsupport benchmark::benchmark)
  endforeach()
  # Benchmarks of the windows bring their own main with a QApplication.
  file(GLOB ui_benches CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/ui/*.cpp)
  foreach(src ${ui_benches})
    get_filename_component(name ${src} NAME_WE)
    add_executable(bench_ui_${name} ${src})
    target_link_libraries(bench_ui_${name} PRIVATE testsupport toolsupport_ui benchmark::benchmark)
  endforeach()
endfunction()

function(larkspur_fuzzers)
  if(NOT LARKSPUR_FUZZ)
    return()
  endif()
  file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  foreach(src ${fuzzers})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/support/temp_folder.cpp)
    target_link_libraries(${name} PRIVATE toolsupport)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endfunction()
