# Every target of ours builds warning-free with these, under gcc and clang.
#   -Wpedantic   no compiler extensions slip into the code
#   -Wshadow     a local or parameter hiding a member or an outer name
#   -Wconversion an implicit narrowing (a sample value or byte count cut to a
#                smaller type, a double cut to an int): the casts that remain
#                say where narrowing is meant
# Qt's and GoogleTest's headers are system headers and not checked.
add_library(ecg_warnings INTERFACE)
target_compile_options(ecg_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
option(ECG_WERROR "Treat warnings as errors" OFF)
if(ECG_WERROR)
  target_compile_options(ecg_warnings INTERFACE -Werror)
endif()
