# Hardening of the Windows programs that users and publishers run.
#
# Late-bound system DLLs: a DLL that is not one of Windows' KnownDLLs and is imported statically is
# looked for in the program's own folder first, so a file of that name left beside the program
# (in a Downloads folder, say) would run inside it before its entry. These DLLs are therefore
# delay-loaded: the import libraries below make the first call of each function load the DLL, by
# then restricted to the system folder (restrictDllSearchToSystem, common/dll_search.h), and the
# update run loads each of them explicitly first (loadSystemLibraries) so that a missing one is a
# failure of the run with its name, not an exception raised in the middle of a call.
#
# Dependencies come before their users, so that a missing DLL is the one named: Wine's and
# Windows' wintrust and winhttp use crypt32, which uses bcrypt.
set(ORVANTI_LATE_BOUND_DLLS bcrypt crypt32 wintrust winhttp version)

set(ORVANTI_DELAY_IMPORT_DIR ${CMAKE_BINARY_DIR}/delay-import)
file(MAKE_DIRECTORY ${ORVANTI_DELAY_IMPORT_DIR})
find_program(ORVANTI_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)

# orvanti_delay_import_library(<dll>): an imported library target orvanti_delay_<dll> that
# delay-loads <dll>.dll with every function of MinGW's own import library lib<dll>.a.
function(orvanti_delay_import_library dll)
  find_library(import_library_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
  execute_process(COMMAND ${CMAKE_NM} ${import_library_${dll}} OUTPUT_VARIABLE symbols
                  COMMAND_ERROR_IS_FATAL ANY)
  # Each function of an import library has a thunk: "<address> T <name>".
  string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_@?$]+" thunks "${symbols}")
  set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
  foreach(thunk ${thunks})
    string(REGEX REPLACE "^[0-9a-f]+ T " "" name "${thunk}")
    string(APPEND def "  ${name}\n")
  endforeach()
  set(def_file ${ORVANTI_DELAY_IMPORT_DIR}/${dll}.def)
  file(CONFIGURE OUTPUT ${def_file} CONTENT "${def}" @ONLY)
  set(library ${ORVANTI_DELAY_IMPORT_DIR}/lib${dll}-delayed.a)
  add_custom_command(OUTPUT ${library}
    COMMAND ${ORVANTI_DLLTOOL} --input-def ${def_file} --dllname ${dll}.dll
            --output-delaylib ${library}
    DEPENDS ${def_file}
    COMMENT "Delay-load import library for ${dll}.dll" VERBATIM)
  add_custom_target(orvanti_delay_${dll}_library DEPENDS ${library})
  add_library(orvanti_delay_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(orvanti_delay_${dll} PROPERTIES IMPORTED_LOCATION ${library})
  add_dependencies(orvanti_delay_${dll} orvanti_delay_${dll}_library)
endfunction()

set(ORVANTI_LATE_BOUND_LIBRARIES "")
set(late_bound_names "")
foreach(dll ${ORVANTI_LATE_BOUND_DLLS})
  orvanti_delay_import_library(${dll})
  list(APPEND ORVANTI_LATE_BOUND_LIBRARIES orvanti_delay_${dll})
  string(APPEND late_bound_names "    L\"${dll}.dll\",\n")
endforeach()
# The same list for the code that loads them.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/late_bound_dlls.h @ONLY CONTENT
"#pragma once
// Generated from ORVANTI_LATE_BOUND_DLLS (cmake/hardening.cmake): the system DLLs that the
// program delay-loads, in the order in which they are loaded.
inline constexpr const wchar_t* kLateBoundDlls[] = {
${late_bound_names}};
")

# Code generation of everything that goes into a program users run: stack canaries on functions
# with arrays or addresses taken, and the checked forms of the C library's copy functions.
set(ORVANTI_HARDENING_COMPILE_OPTIONS -fstack-protector-strong)
set(ORVANTI_HARDENING_DEFINITIONS _FORTIFY_SOURCE=2)

# orvanti_harden_code(<target>): the hardening code generation for a library or program's own
# sources; whoever links it also links the stack protector's support library (statically, like
# every library here: -static).
function(orvanti_harden_code target)
  target_compile_options(${target} PRIVATE ${ORVANTI_HARDENING_COMPILE_OPTIONS})
  target_compile_definitions(${target} PRIVATE ${ORVANTI_HARDENING_DEFINITIONS})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_link_options(${target} INTERFACE -fstack-protector-strong)
  endif()
endfunction()

# orvanti_harden_program(<target>): for an executable that users or publishers run. ASLR with
# 64-bit entropy and DEP asked for explicitly (not left to the linker's defaults), the hardening
# code generation, and no static import of a DLL outside the KnownDLLs except through the
# late-bound libraries above. The program must call restrictDllSearchToSystem() from a
# constructor of priority 101 (see app/main.cpp): the stack protector's own constructor acquires
# a cryptographic provider, and the provider's DLL imports bcrypt.dll and crypt32.dll.
#
# No load-configuration directory (DependentLoadFlags 0x800) is added: GNU ld 2.40 places a
# `_load_config_used` structure but leaves the image's load-configuration directory entry empty,
# so the loader would never see it; only a patch of the linked image could set it.
function(orvanti_harden_program target)
  orvanti_harden_code(${target})
  target_link_options(${target} PRIVATE -fstack-protector-strong
                      -Wl,--dynamicbase,--nxcompat,--high-entropy-va)
endfunction()
