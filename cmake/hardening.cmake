# The hardening a distribution gives its own packages, for every program of the tree
# (the shipped ones and the tests that exercise their code). The linux, win32 and win64
# presets turn it on; the sanitizer and fuzz presets keep their own instrumentation
# instead (_FORTIFY_SOURCE's checked copies hide accesses from AddressSanitizer, and
# the sanitizers bring stack checks of their own), and the browser build has no such
# loader to harden.
option(QV3_HARDENING "Build hardened programs (stack protector, fortified calls, full RELRO, ...)" OFF)
if(NOT QV3_HARDENING)
  return()
endif()

if(WIN32)
  # The Windows loader's own protections are the linker's defaults today; they are asked
  # for by name so that a toolchain whose defaults change keeps them (and the package
  # step's PE test reads them back from every shipped program). A relocation table stays:
  # --dynamicbase keeps it.
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>")
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong;-fstack-clash-protection>")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fcf-protection>")
endif()
# The fortified calls need the optimiser (glibc warns, and -Werror fails, without it);
# level 3 also checks sizes known only at run time (GCC 12 and glibc 2.34 on).
add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
