# PAVO_SANITIZE: a comma-separated list such as "address,undefined" builds everything with
# those sanitizers; any finding aborts the process, so a test that meets one fails.
set(PAVO_SANITIZE "" CACHE STRING "Sanitizers to build with (e.g. address,undefined)")
if(PAVO_SANITIZE)
  add_compile_options(-fsanitize=${PAVO_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${PAVO_SANITIZE})
endif()
