# FB_SANITIZE: a comma-separated -fsanitize= list, e.g. "address,undefined"
# or "thread". Applied to every target, the test framework included.
set(FB_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")

if(FB_SANITIZE)
  set(_fb_san_flags -fsanitize=${FB_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  if(FB_SANITIZE MATCHES "undefined")
    list(APPEND _fb_san_flags -fsanitize=float-cast-overflow)
  endif()
  add_compile_options(${_fb_san_flags})
  add_link_options(${_fb_san_flags})
endif()
