# ECG_SANITIZE=address,undefined  (ASan + UBSan) or  ECG_SANITIZE=thread  (TSan).
# Applied to the whole tree so that libraries and tests agree on the runtime.
set(ECG_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(ECG_SANITIZE)
  add_compile_options(-fsanitize=${ECG_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ECG_SANITIZE})
endif()
