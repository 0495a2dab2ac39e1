# Rescue media: lromup built to run with nothing beside it. A static x86-64
# binary, and a static 32-bit x86 one (the boards' own rescue systems are 32-bit)
# when the compiler has the 32-bit libraries (g++-multilib).
include(CheckCXXSourceCompiles)

add_executable(lromup-static flash/main.cpp packaging/static_dlopen.cpp)
target_link_libraries(lromup-static PRIVATE lromupcore)
target_link_options(lromup-static PRIVATE -static -Wl,--wrap=dlopen)

# A build configured before g++-multilib was installed gets lromup-i386 on its
# next configure: a failed check is not kept in the cache.
if(NOT LROMUP_HAVE_I386)
  unset(LROMUP_HAVE_I386 CACHE)
endif()
set(CMAKE_REQUIRED_FLAGS -m32)
set(CMAKE_REQUIRED_LINK_OPTIONS -m32 -static)
check_cxx_source_compiles("#include <string>
int main(int argc, char**) { return static_cast<int>(std::string(argc, 'x').size()); }"
                          LROMUP_HAVE_I386)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)

if(LROMUP_HAVE_I386)
  add_library(lromupcore-i386 STATIC ${LROMUP_SOURCES})
  target_include_directories(lromupcore-i386 PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(lromupcore-i386 PUBLIC -m32)
  target_link_options(lromupcore-i386 PUBLIC -m32)
  add_executable(lromup-i386 flash/main.cpp packaging/static_dlopen.cpp)
  target_link_libraries(lromup-i386 PRIVATE lromupcore-i386)
  target_link_options(lromup-i386 PRIVATE -static -Wl,--wrap=dlopen)
else()
  message(STATUS "No 32-bit x86 C++ libraries (g++-multilib): lromup-i386 is not built")
endif()
