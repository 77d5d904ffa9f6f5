# VELQOR_SANITIZE=address builds with ASan+UBSan (no recovery), =thread with TSan.
# Sanitizer builds compile at -O1 with line tables only: reports keep their file and line, and
# the build takes far less time than a full optimised build with complete debug information.
if(NOT VELQOR_SANITIZE STREQUAL "")
  add_compile_options(-O1 -g1)
endif()
if(VELQOR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VELQOR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VELQOR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELQOR_SANITIZE must be empty, 'address' or 'thread'")
endif()
