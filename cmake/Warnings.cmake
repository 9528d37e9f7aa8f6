# Every target of ours builds warning-free at -Wall -Wextra.
add_library(ecg_warnings INTERFACE)
target_compile_options(ecg_warnings INTERFACE -Wall -Wextra)
option(ECG_WERROR "Treat warnings as errors" OFF)
if(ECG_WERROR)
  target_compile_options(ecg_warnings INTERFACE -Werror)
endif()
