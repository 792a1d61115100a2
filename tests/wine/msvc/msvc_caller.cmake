# Callers built for Microsoft's ABI: the decorated names that clang gives the
# members of the public XmlObject class must all be exported by utils.dll, and a
# caller compiled and linked for that ABI (clang targeting MSVC, lld-link, import
# libraries made from .def files, no C runtime) must pass its checks under Wine.
# Included from windows_tests.cmake.

find_program(UTILS_MSVC_CLANG NAMES clang++-14 clang++)
find_program(UTILS_LLD_LINK NAMES lld-link lld-link-14)
find_program(UTILS_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool)
find_program(UTILS_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT UTILS_MSVC_CLANG OR NOT UTILS_LLD_LINK OR NOT UTILS_DLLTOOL OR NOT UTILS_PYTHON3)
  message(FATAL_ERROR "The MSVC-ABI caller tests need clang, lld and llvm (scripts/install-windows-deps.sh)")
endif()

# The C++ library headers and the Windows headers of the cross toolchain; not
# GCC's own intrinsics headers, which clang replaces with its own.
set(msvc_system_includes "")
set(msvc_sysroot_args "")
foreach(folder IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  if(folder MATCHES "/c\\+\\+(/x86_64-w64-mingw32)?$" OR folder MATCHES "x86_64-w64-mingw32/include$")
    list(APPEND msvc_system_includes -isystem ${folder})
    list(APPEND msvc_sysroot_args --sysroot-include ${folder})
  endif()
endforeach()
set(msvc_dir ${CMAKE_CURRENT_LIST_DIR})
set(msvc_out ${CMAKE_BINARY_DIR}/msvc)
set(msvc_flags --target=x86_64-pc-windows-msvc -fms-compatibility -fgnuc-version=4.2.1 -std=gnu++20 -O1
    -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe -Wall -Wextra -Werror)

add_custom_command(OUTPUT ${msvc_out}/utils.lib ${msvc_out}/kernel32.lib
  COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_out}
  COMMAND ${UTILS_DLLTOOL} -m i386:x86-64 -d ${PROJECT_SOURCE_DIR}/src/port/win32/utils.def -l ${msvc_out}/utils.lib
  COMMAND ${UTILS_DLLTOOL} -m i386:x86-64 -d ${msvc_dir}/kernel32.def -l ${msvc_out}/kernel32.lib
  DEPENDS ${PROJECT_SOURCE_DIR}/src/port/win32/utils.def ${msvc_dir}/kernel32.def
  COMMENT "Import libraries for the MSVC-ABI caller")
add_custom_command(OUTPUT ${msvc_out}/xml_caller.obj
  COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_out}
  COMMAND ${UTILS_MSVC_CLANG} ${msvc_flags} -I ${PROJECT_SOURCE_DIR}/include ${msvc_system_includes}
          -c ${msvc_dir}/xml_caller.cpp -o ${msvc_out}/xml_caller.obj
  DEPENDS ${msvc_dir}/xml_caller.cpp ${PROJECT_SOURCE_DIR}/include/utils/xml.h
  COMMENT "Compiling the MSVC-ABI caller")
# Beside utils.dll (the src folder of the build), where Wine finds it first.
set(msvc_caller ${CMAKE_BINARY_DIR}/src/msvc_xml_caller.exe)
add_custom_command(OUTPUT ${msvc_caller}
  COMMAND ${UTILS_LLD_LINK} /nodefaultlib /entry:mainCRTStartup /subsystem:console ${msvc_out}/xml_caller.obj
          ${msvc_out}/utils.lib ${msvc_out}/kernel32.lib /out:${msvc_caller}
  DEPENDS ${msvc_out}/xml_caller.obj ${msvc_out}/utils.lib ${msvc_out}/kernel32.lib
  COMMENT "Linking the MSVC-ABI caller")
add_custom_target(msvc_xml_caller ALL DEPENDS ${msvc_caller})
add_dependencies(msvc_xml_caller utils)

add_test(NAME msvc_xml_caller COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${msvc_caller}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/src)
set_tests_properties(msvc_xml_caller PROPERTIES LABELS integration)

add_test(NAME msvc_exports
  COMMAND ${UTILS_PYTHON3} ${msvc_dir}/msvc_names.py --clang ${UTILS_MSVC_CLANG}
          --include ${PROJECT_SOURCE_DIR}/include --header utils/xml.h --class XmlObject
          ${msvc_sysroot_args} --objdump ${UTILS_OBJDUMP} --dll $<TARGET_FILE:utils>)
set_tests_properties(msvc_exports PROPERTIES LABELS integration)
