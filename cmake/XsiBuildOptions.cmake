# Compile options every target of the project takes, through one interface
# target instead of global flags.
add_library(xsi_build_options INTERFACE)
add_library(xsi::build_options ALIAS xsi_build_options)
target_compile_features(xsi_build_options INTERFACE cxx_std_17)
target_compile_options(xsi_build_options INTERFACE
  $<BUILD_INTERFACE:-Wall -Wextra>
  # Entry points return CStatus from extern "C" functions by design; the
  # host and its plug-ins are both C++.
  $<$<AND:$<CXX_COMPILER_ID:Clang>,$<BUILD_INTERFACE:1>>:-Wno-return-type-c-linkage>
  $<$<AND:$<BOOL:${XSI_WERROR}>,$<BUILD_INTERFACE:1>>:-Werror>)
if(XSI_SANITIZE)
  # -O1 as the sanitizers' own documentation advises: an unoptimised build
  # runs the whole suite several times slower and finds nothing more.
  # GCC's maybe-uninitialized analysis misfires on instrumented code (inside
  # <regex>, for one); the plain build keeps the warning as an error.
  target_compile_options(xsi_build_options INTERFACE
    $<BUILD_INTERFACE:-O1 -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined>
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<BUILD_INTERFACE:1>>:-Wno-maybe-uninitialized>)
  target_link_options(xsi_build_options INTERFACE
    $<BUILD_INTERFACE:-fsanitize=address,undefined>)
endif()
if(XSI_FUZZ)
  # Everything is instrumented for coverage; only the harnesses link the
  # libFuzzer driver (add_xsi_fuzzer).
  target_compile_options(xsi_build_options INTERFACE
    $<BUILD_INTERFACE:-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined>)
  target_link_options(xsi_build_options INTERFACE
    $<BUILD_INTERFACE:-fsanitize=address,undefined>)
endif()
