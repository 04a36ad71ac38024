# Helpers shared by both passes.

set(ZF_WINE_TOOLS /usr/lib/wine)
set(ZF_WINEGCC ${ZF_WINE_TOOLS}/winegcc)
set(ZF_WINEGXX ${ZF_WINE_TOOLS}/wineg++)
set(ZF_WRC ${ZF_WINE_TOOLS}/wrc)
set(ZF_WIDL ${ZF_WINE_TOOLS}/widl)
set(ZF_SCRIPTS ${CMAKE_SOURCE_DIR}/scripts)

# Where the Win32 pass keeps the test environment (Wine prefix, X display).
if(ZF_WIN)
  set(ZF_TESTENV "${CMAKE_BINARY_DIR}/testenv")
  set(ZF_NATIVE_LIB_DIR "${ZF_NATIVE_DIR}/native-lib")
  set(ZF_SERVICE_PROGRAM "${ZF_NATIVE_DIR}/outside/service/zentrafold-service")
endif()

# Linux headers take their Windows branch when they see these; units that mix
# windows.h with such headers (GoogleTest, libtiff, gSOAP facades) drop them.
set(ZF_UNDEF_WIN32 -U_WIN32 -U__WIN32__ -U__WIN32 -UWIN32 -U_WIN64 -U__WIN64 -UWIN64
    -U_WINDOWS -U__WINDOWS__)

# Native pass: a static library the Win32 pass links.
function(zf_native_library name)
  add_library(${name} STATIC ${ARGN})
  set_property(GLOBAL APPEND PROPERTY ZF_NATIVE_LIBS ${name})
endfunction()

# Win32 pass: import a native static library by name, with its link dependencies.
# Its headers (standard C++ types only) are in its source folder.
function(zf_import_native name)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION "${ZF_NATIVE_LIB_DIR}/lib${name}.a"
    INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_SOURCE_DIR}"
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

# Win32 pass: a Winelib DLL NAME.dll with exports from NAME.spec; a copy named
# NAME.dll is kept beside NAME.dll.so so LoadLibrary finds it.
function(zf_win_dll name spec)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".dll.so")
  target_link_options(${name} PRIVATE ${spec})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${spec})
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${name}>
            $<TARGET_FILE_DIR:${name}>/${name}.dll)
endfunction()

# Win32 pass: compile an .rc file into a .res that goes on a module's link line.
function(zf_win_resources target rc)
  get_filename_component(base ${rc} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${base}.res)
  add_custom_command(OUTPUT ${res}
    COMMAND ${ZF_WRC} -I${CMAKE_CURRENT_SOURCE_DIR} -I${CMAKE_CURRENT_BINARY_DIR}
            ${ARGN} -o ${res} ${CMAKE_CURRENT_SOURCE_DIR}/${rc}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${rc}
    IMPLICIT_DEPENDS C ${CMAKE_CURRENT_SOURCE_DIR}/${rc}
    VERBATIM)
  add_custom_target(${target}_res DEPENDS ${res})
  add_dependencies(${target} ${target}_res)
  target_link_options(${target} PRIVATE ${res})
endfunction()

# Win32 pass: a GoogleTest program run under Wine in the shared test environment.
# Every Wine test takes the prefix lock: they share HKLM and the cipher's
# registration, so they run one after the other.
function(zf_win_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE ${ZF_UNDEF_WIN32})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name}
    COMMAND ${ZF_SCRIPTS}/wine-run.sh ${ZF_TESTENV} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED zf_wine
    RESOURCE_LOCK zf_prefix
    TIMEOUT 300
    ENVIRONMENT "${T_ENV}")
endfunction()

if(ZF_WIN)
  # wineg++ -o NAME.exe writes NAME.exe.so and a launcher script NAME.exe.
  set(CMAKE_EXECUTABLE_SUFFIX ".exe")
  # Winelib programs are shared objects too.
  add_compile_options(-fPIC)
  add_compile_definitions(NOMINMAX)
endif()
