# QUORVEL_SANITIZE=address,undefined or thread instruments every target of the build.
if(QUORVEL_SANITIZE)
  set(_san_flags -fsanitize=${QUORVEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_san_flags})
  add_link_options(${_san_flags})
endif()
