# FB_FUZZ: build the libFuzzer targets of tests/fuzz/ with clang. Every
# library then gets the fuzzer's coverage instrumentation with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the targets link
# libFuzzer's driver; build them with `--target fuzz_targets`. Off (the
# default): the targets are replay runners of their seed corpus, run as
# CTest tests.
option(FB_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(FB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "FB_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  if(FB_SANITIZE)
    message(FATAL_ERROR "FB_FUZZ brings its own sanitizers; leave FB_SANITIZE empty")
  endif()
  # The fake browser declares the NPAPI types on its own, as a browser
  # does: its calls into the plugin go through C-compatible function types
  # of another name, which the "function" check would flag.
  set(_fb_fuzz_flags -fsanitize=address,undefined -fno-sanitize=function
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(-fsanitize=fuzzer-no-link ${_fb_fuzz_flags})
  add_link_options(${_fb_fuzz_flags})
endif()
