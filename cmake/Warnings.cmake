# Warnings for our own targets only (third-party headers come in as SYSTEM).
add_library(qb_warnings INTERFACE)
target_compile_options(qb_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
  # A dropped platform::Status or Result is a dropped failure.
  -Werror=unused-result)
